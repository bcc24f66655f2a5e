# What a CAPTCHA service (or whoever answers in its place) and a posted form hand the spam rules:
# the HTTP answer reader, the JSON reader and the content rules' text matching.
velmora_fuzzer(fuzz_spam_answer ${CMAKE_CURRENT_SOURCE_DIR}/fuzz_spam_answer.cpp velmora_app)
