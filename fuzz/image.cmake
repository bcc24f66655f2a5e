# Fuzz target of the image example's query reading: any query string either fails with a message
# or yields values within their ranges and the pixel cap; small results are drawn and encoded.
velmora_fuzzer(fuzz_image_query ${CMAKE_CURRENT_SOURCE_DIR}/fuzz_image_query.cpp gifimage_parts velmora_util)
