# Fuzz target of the FastCGI server on one connection: any byte stream as the web server's side,
# read by the record layer and the event loop, requests run by the engine, answers written back;
# seeds in corpus/fuzz_fastcgi_records, dictionary fuzz_fastcgi_records.dict.
velmora_fuzzer(fuzz_fastcgi_records ${CMAKE_CURRENT_SOURCE_DIR}/fuzz_fastcgi_records.cpp velmora_adapters)
# The same through a listener whose two workers take the connections (the hand-over to the loop
# included); seeds and dictionary are those of fuzz_fastcgi_records.
velmora_fuzzer(fuzz_fastcgi_taken ${CMAKE_CURRENT_SOURCE_DIR}/fuzz_fastcgi_records.cpp velmora_adapters)
target_compile_definitions(fuzz_fastcgi_taken PRIVATE VELMORA_FUZZ_TAKEN)
