# Fuzz targets of the form data routines: the URL coding and look-ups, and the multipart decoder
# fed through a fake client in fuzzer-chosen chunk sizes (it shares the tests' fake client).
velmora_fuzzer(fuzz_formdata ${CMAKE_CURRENT_SOURCE_DIR}/fuzz_formdata.cpp velmora_util)
velmora_fuzzer(fuzz_multipart ${CMAKE_CURRENT_SOURCE_DIR}/fuzz_multipart.cpp velmora_util)
target_include_directories(fuzz_multipart PRIVATE ${PROJECT_SOURCE_DIR}/tests/support
  ${PROJECT_SOURCE_DIR}/tests/formdata)
