# Fuzz target of the ISAPI filter's scan of raw request bytes (request line, headers, posted body);
# seeds in corpus/fuzz_isapi_raw, dictionary fuzz_isapi_raw.dict.
velmora_fuzzer(fuzz_isapi_raw ${CMAKE_CURRENT_SOURCE_DIR}/fuzz_isapi_raw.cpp velmora_adapters)
