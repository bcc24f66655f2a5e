# The site options' handling of request text: the Accept header, JSON strings of any bytes, a
# posted Reply-To address and an encoded subject, each checked against its own invariant.
velmora_fuzzer(fuzz_site_text ${CMAKE_CURRENT_SOURCE_DIR}/fuzz_site_text.cpp velmora_app)
