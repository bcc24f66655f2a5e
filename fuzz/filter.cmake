# The template filter's fuzz target: FilterText on arbitrary templates, checked against the same
# template read in 255-byte pieces.
velmora_fuzzer(fuzz_filter ${CMAKE_CURRENT_SOURCE_DIR}/fuzz_filter.cpp velmora_util)
