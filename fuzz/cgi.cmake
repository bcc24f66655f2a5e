# Fuzz target of the standard CGI engine's request reading (body, multipart, form look-ups);
# seeds in corpus/fuzz_cgi_request, dictionary fuzz_cgi_request.dict.
velmora_fuzzer(fuzz_cgi_request ${CMAKE_CURRENT_SOURCE_DIR}/fuzz_cgi_request.cpp velmora_adapters)
