// The digests are asked of the TLS module's table; the comparison and hex text are our own.
#include "KeyedDigest.h"

#include "TlsModuleLoader.h"

namespace velmora {

bool HmacSha256(const std::string& key, const std::string& data, std::string& out) {
    const TVelmoraTlsModule* api = LoadedTlsModule();
    unsigned char digest[32];
    if (!api || api->HmacSha256(key.data(), key.size(), data.data(), data.size(), digest) != 1) return false;
    out.assign(reinterpret_cast<const char*>(digest), sizeof digest);
    return true;
}

bool Pbkdf2Sha256(const std::string& password, const std::string& salt, unsigned iterations, size_t length,
                  std::string& out) {
    const TVelmoraTlsModule* api = LoadedTlsModule();
    if (!api || iterations == 0 || length == 0) return false;
    out.assign(length, '\0');
    return api->Pbkdf2Sha256(password.data(), password.size(), salt.data(), salt.size(), iterations,
                             reinterpret_cast<unsigned char*>(out.data()), length) == 1;
}

std::string HexDigits(const std::string& bytes) {
    static const char digits[] = "0123456789abcdef";
    std::string hex;
    hex.reserve(bytes.size() * 2);
    for (unsigned char c : bytes) {
        hex += digits[c >> 4];
        hex += digits[c & 15];
    }
    return hex;
}

bool ConstantTimeEqual(const std::string& a, const std::string& b) {
    if (a.size() != b.size()) return false;
    unsigned char diff = 0;
    for (size_t i = 0; i < a.size(); ++i) diff |= static_cast<unsigned char>(a[i] ^ b[i]);
    return diff == 0;
}

}  // namespace velmora
