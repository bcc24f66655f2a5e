// The compression function on x86's SHA extensions, chosen at run time by Sha256.cpp.
#pragma once

#include <cstddef>
#include <cstdint>

namespace velmora {

// The 64 round constants of SHA-256 (FIPS 180-4), 16-byte aligned for the vector loads.
extern const uint32_t kSha256Rounds[64];

// Whether this processor has the SHA extensions (and SSE4.1) the function below needs.
bool CpuHasShaNi();
// Compresses count 64-byte blocks into state; only when CpuHasShaNi().
void CompressShaNi(uint32_t state[8], const uint8_t* blocks, size_t count);
// PBKDF2's rounds after the first, from an HMAC key's inner and outer states: u (the last
// round's digest) becomes the next one's, and t takes each by XOR; the words as the digest's
// big-endian bytes read. Only when CpuHasShaNi().
void Pbkdf2RoundsShaNi(const uint32_t inner[8], const uint32_t outer[8], uint32_t u[8], uint32_t t[8], unsigned rounds);

}  // namespace velmora
