# The archive's text out of what a hostile client posted: CSV cells, JSON objects, the address match
# of an erasure, and the ids.
velmora_fuzzer(fuzz_archive_text ${CMAKE_CURRENT_SOURCE_DIR}/fuzz_archive_text.cpp velmora_app)
