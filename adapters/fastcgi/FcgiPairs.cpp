// Name-value pairs: a length is one byte below 128, else four bytes with the top bit set. Lengths
// come from the peer, so each is held against what is left before anything is copied.
#include "FcgiPairs.h"

#include <cstdint>

namespace velmora::fcgi {

namespace {

bool ReadLength(std::string_view b, size_t& p, size_t& length) {
    if (p >= b.size()) return false;
    const auto first = static_cast<uint8_t>(b[p]);
    if (first < 0x80) {
        length = first;
        ++p;
        return true;
    }
    if (b.size() - p < 4) return false;
    length = size_t{first & 0x7fu} << 24 | size_t{static_cast<uint8_t>(b[p + 1])} << 16 |
             size_t{static_cast<uint8_t>(b[p + 2])} << 8 | static_cast<uint8_t>(b[p + 3]);
    p += 4;
    return true;
}

void AppendLength(std::string& out, size_t n) {
    if (n < 0x80) {
        out += static_cast<char>(n);
        return;
    }
    out += static_cast<char>(((n >> 24) & 0x7f) | 0x80);
    out += static_cast<char>(n >> 16);
    out += static_cast<char>(n >> 8);
    out += static_cast<char>(n);
}

}  // namespace

bool DecodePairs(std::string_view b, size_t maxCount, TPairs& pairs) {
    for (size_t p = 0; p < b.size();) {
        size_t name = 0, value = 0;
        if (!ReadLength(b, p, name) || !ReadLength(b, p, value)) return false;
        // Each is below 2^31, so the sum cannot wrap.
        if (name + value > b.size() - p || pairs.size() >= maxCount) return false;
        pairs.emplace_back(std::string(b.substr(p, name)), std::string(b.substr(p + name, value)));
        p += name + value;
    }
    return true;
}

void EncodePair(std::string& out, std::string_view name, std::string_view value) {
    AppendLength(out, name.size());
    AppendLength(out, value.size());
    out.append(name);
    out.append(value);
}

}  // namespace velmora::fcgi
