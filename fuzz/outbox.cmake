# The outbox's own files read back: message names with their retry state, and message files.
velmora_fuzzer(fuzz_outbox_file ${CMAKE_CURRENT_SOURCE_DIR}/fuzz_outbox_file.cpp velmora_app)
