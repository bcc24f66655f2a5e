# Fuzz target of the profile-file engine's profile reader and its field and variable look-ups;
# seeds in corpus/fuzz_profile, dictionary fuzz_profile.dict.
velmora_fuzzer(fuzz_profile ${CMAKE_CURRENT_SOURCE_DIR}/fuzz_profile.cpp velmora_adapters)
