// SHA-256 and the two keyed constructions the proof-of-work challenges need, HMAC-SHA256 and
// PBKDF2-HMAC-SHA256, as small own code: a CGI start that checks a payload then maps no OpenSSL
// (measured: loading it cost a refused post four times its time). Checked against OpenSSL in the
// tests. Uses the processor's SHA instructions where it has them.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace velmora {

class TSha256 {
public:
    TSha256();
    // Goes on from state after length bytes (a whole number of blocks) were hashed.
    static TSha256 FromState(const uint32_t state[8], uint64_t length);
    void Update(std::string_view data);
    std::array<uint8_t, 32> Final();

    // Compresses whole 64-byte blocks into state (eight words, big-endian order of the digest).
    static void Compress(uint32_t state[8], const uint8_t* blocks, size_t count);

private:
    uint32_t FState[8];
    uint8_t FBuffer[64];
    size_t FFill = 0;
    uint64_t FLength = 0;
};

// The 32-byte HMAC-SHA256 of data under key.
std::string HmacSha256(std::string_view key, std::string_view data);
// PBKDF2-HMAC-SHA256 (RFC 8018) of password and salt, iterations rounds (at least 1), length bytes.
std::string Pbkdf2Sha256(std::string_view password, std::string_view salt, unsigned iterations, size_t length);

// Lower-case hex digits of bytes.
std::string HexDigits(std::string_view bytes);
// Whether a and b are equal, in a time that depends on their lengths only.
bool ConstantTimeEqual(std::string_view a, std::string_view b);

// For the tests: false makes Compress use the portable code even where SHA instructions exist.
void UseShaInstructions(bool use);
bool HasShaInstructions();

}  // namespace velmora
