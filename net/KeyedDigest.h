// HMAC-SHA256 and PBKDF2-HMAC-SHA256 for the proof-of-work challenges, computed by the TLS module
// (OpenSSL, loaded on first use) so the program keeps no OpenSSL of its own.
#pragma once

#include <cstddef>
#include <string>

namespace velmora {

// The 32-byte HMAC-SHA256 of data under key; false when the module cannot be loaded.
bool HmacSha256(const std::string& key, const std::string& data, std::string& out);
// PBKDF2-HMAC-SHA256 of password and salt, iterations rounds (at least 1), length bytes long;
// false when the module cannot be loaded or refuses the parameters.
bool Pbkdf2Sha256(const std::string& password, const std::string& salt, unsigned iterations, size_t length,
                  std::string& out);
// Lower-case hex digits of bytes.
std::string HexDigits(const std::string& bytes);
// Whether a and b are equal, in a time that depends on their lengths only.
bool ConstantTimeEqual(const std::string& a, const std::string& b);

}  // namespace velmora
