// Strict decoding of base64 text that a client sends (the proof-of-work payload), as a
// browser's btoa writes it.
#pragma once

#include <string>
#include <string_view>

namespace velmora {

// The bytes of text in the standard alphabet with "=" padding to a multiple of four characters;
// false for anything else (white space, other alphabets, a padding in the middle, stray bits).
bool DecodeBase64Strict(std::string_view text, std::string& out);

}  // namespace velmora
