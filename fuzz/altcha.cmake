# The proof-of-work payload a client posts: base64, JSON with its canonical writing, and the
# payload's shape, each checked against its own invariant.
velmora_fuzzer(fuzz_altcha_payload ${CMAKE_CURRENT_SOURCE_DIR}/fuzz_altcha_payload.cpp velmora_app)
