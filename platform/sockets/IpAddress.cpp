// Reading and writing addresses through the C library's inet_pton and inet_ntop, which accept
// every textual form of RFC 4291 and write the recommended one.
#include "IpAddress.h"

#include <arpa/inet.h>

#include <algorithm>
#include <cstring>

namespace velmora {

namespace {

constexpr uint8_t kMappedPrefix[12] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xff, 0xff};

// The address part of text: brackets ("[::1]", as some front ends pass it) and a zone removed.
std::string AddressPart(std::string text) {
    if (text.size() >= 2 && text.front() == '[' && text.back() == ']') text = text.substr(1, text.size() - 2);
    size_t zone = text.find('%');
    if (zone != std::string::npos) text.resize(zone);
    return text;
}

}  // namespace

std::optional<TIpBytes> ParseIpAddress(const std::string& text) {
    // Longer than any address can be written: refused before the C library sees it.
    if (text.size() > 64) return std::nullopt;
    std::string address = AddressPart(text);
    TIpBytes bytes{};
    if (::inet_pton(AF_INET6, address.c_str(), bytes.data()) == 1) return bytes;
    in_addr v4{};
    if (::inet_pton(AF_INET, address.c_str(), &v4) != 1) return std::nullopt;
    std::memcpy(bytes.data(), kMappedPrefix, sizeof kMappedPrefix);
    std::memcpy(bytes.data() + 12, &v4, 4);
    return bytes;
}

bool IsIpv4(const TIpBytes& bytes) noexcept { return std::memcmp(bytes.data(), kMappedPrefix, sizeof kMappedPrefix) == 0; }

std::string FormatIpAddress(const TIpBytes& bytes) {
    char text[INET6_ADDRSTRLEN] = {};
    if (IsIpv4(bytes)) ::inet_ntop(AF_INET, bytes.data() + 12, text, sizeof text);
    else ::inet_ntop(AF_INET6, bytes.data(), text, sizeof text);
    return text;
}

TIpBytes MaskIpAddress(TIpBytes bytes, int prefixBits) noexcept {
    prefixBits = std::clamp(prefixBits, 0, 128);
    for (int i = 0; i < 16; ++i) {
        int keep = std::clamp(prefixBits - 8 * i, 0, 8);
        bytes[static_cast<size_t>(i)] &= static_cast<uint8_t>(0xff00 >> keep);
    }
    return bytes;
}

}  // namespace velmora
