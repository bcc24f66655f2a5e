// HMAC-SHA256 and PBKDF2-HMAC-SHA256 through libcrypto's one-shot calls; the module's table
// hands them to the program (see TlsModule.h).
#include "tls/DigestOpenSsl.h"

#include <openssl/evp.h>
#include <openssl/hmac.h>

#include <climits>

namespace velmora_tls {

int HmacSha256(const void* key, size_t keySize, const void* data, size_t dataSize, unsigned char* out) {
    if (keySize > INT_MAX) return 0;
    unsigned length = 0;
    return HMAC(EVP_sha256(), key, static_cast<int>(keySize), static_cast<const unsigned char*>(data), dataSize, out,
                &length) != nullptr && length == 32;
}

int Pbkdf2Sha256(const void* password, size_t passwordSize, const void* salt, size_t saltSize, unsigned iterations,
                 unsigned char* out, size_t outSize) {
    if (passwordSize > INT_MAX || saltSize > INT_MAX || outSize > INT_MAX || iterations == 0 || iterations > INT_MAX)
        return 0;
    return PKCS5_PBKDF2_HMAC(static_cast<const char*>(password), static_cast<int>(passwordSize),
                             static_cast<const unsigned char*>(salt), static_cast<int>(saltSize),
                             static_cast<int>(iterations), EVP_sha256(), static_cast<int>(outSize), out);
}

}  // namespace velmora_tls
