# The mail sender's text rules on arbitrary input: relay replies, address lists and values from a
# form, quoted-printable and dot-stuffing, each checked against its own invariant.
velmora_fuzzer(fuzz_smtp_text ${CMAKE_CURRENT_SOURCE_DIR}/fuzz_smtp_text.cpp velmora_net)
target_include_directories(fuzz_smtp_text PRIVATE ${PROJECT_SOURCE_DIR}/tests/support)
