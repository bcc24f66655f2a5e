// The keyed digests the TLS module lends the proof-of-work checks: HMAC-SHA256 and PBKDF2 from
// the libcrypto the module already maps, so the program itself still links no OpenSSL.
#pragma once

#include <stddef.h>

namespace velmora_tls {

int HmacSha256(const void* key, size_t keySize, const void* data, size_t dataSize, unsigned char* out);
int Pbkdf2Sha256(const void* password, size_t passwordSize, const void* salt, size_t saltSize, unsigned iterations,
                 unsigned char* out, size_t outSize);

}  // namespace velmora_tls
