# Fuzz target of the FastCGI engine on one connection: the library's record and parameter reading
# as the engine drives it, the body cut at its announced length, form look-ups, the answer;
# seeds in corpus/fuzz_fastcgi_records, dictionary fuzz_fastcgi_records.dict.
velmora_fuzzer(fuzz_fastcgi_records ${CMAKE_CURRENT_SOURCE_DIR}/fuzz_fastcgi_records.cpp velmora_adapters)
