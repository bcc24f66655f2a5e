// HTML escaping of request values for the template filter (and any page writer that needs it).
// Bytes are treated as 8-bit text: only the five markup characters change, nothing is decoded.
#include "HtmlEscape.h"

#include <cstdint>
#include <cstring>

namespace velmora {

namespace {

// One flag per byte value, for the rare value that does need escaping.
struct TSpecialBytes {
    bool Flag[256] = {};
    constexpr TSpecialBytes() {
        for (unsigned char c : {'&', '<', '>', '"', '\''}) Flag[c] = true;
    }
};
constexpr TSpecialBytes Special;

bool IsSpecial(char c) noexcept { return Special.Flag[static_cast<unsigned char>(c)]; }

std::string_view Replacement(char c) noexcept {
    switch (c) {
        case '&': return "&amp;";
        case '<': return "&lt;";
        case '>': return "&gt;";
        case '"': return "&quot;";
        default: return "&#39;";
    }
}

constexpr uint64_t Ones = 0x0101010101010101ull;
constexpr uint64_t Highs = 0x8080808080808080ull;

// Nonzero when a byte of x is zero (exact for the word as a whole; which byte is not told).
uint64_t AnyZeroByte(uint64_t x) noexcept { return (x - Ones) & ~x & Highs; }

// Nonzero when a byte of word is one of the five: "&" and "'" differ in the lowest bit, "<" and
// ">" in the second, so three tests cover them.
uint64_t SpecialIn(uint64_t word) noexcept {
    return AnyZeroByte((word | Ones) ^ (Ones * 0x27)) | AnyZeroByte((word | (Ones * 0x02)) ^ (Ones * 0x3E)) |
           AnyZeroByte(word ^ (Ones * 0x22));
}

uint64_t Load64(const char* p) noexcept {
    uint64_t w;
    std::memcpy(&w, p, 8);
    return w;
}

uint64_t Load32(const char* p) noexcept {
    uint32_t w;
    std::memcpy(&w, p, 4);
    return w;
}

}  // namespace

// Every value of every answer page passes through here. Eight bytes are tested at a time without
// a branch per byte (values are short and of varying length, so a loop per byte mostly pays for
// mispredicting its end); the last word overlaps the one before, short values are gathered
// into one word from overlapping loads, and the zero bytes that fill it are not special.
bool NeedsHtmlEscape(std::string_view s) noexcept {
    const char* p = s.data();
    size_t n = s.size();
    uint64_t found;
    if (n >= 8) {
        found = SpecialIn(Load64(p + n - 8));
        for (size_t k = 0; k + 8 < n; k += 8) found |= SpecialIn(Load64(p + k));
    } else if (n >= 4) {
        found = SpecialIn(Load32(p) | Load32(p + n - 4) << 32);
    } else if (n > 0) {
        auto byte = [p](size_t k) { return static_cast<uint64_t>(static_cast<unsigned char>(p[k])); };
        found = SpecialIn(byte(0) | byte(n / 2) << 8 | byte(n - 1) << 16);
    } else {
        return false;
    }
    return found != 0;
}

std::string HtmlEscape(std::string_view s) {
    std::string out;
    out.reserve(s.size() + s.size() / 8);
    AppendHtmlEscaped(out, s);
    return out;
}

// Copies the stretches between special bytes whole: most values have none or few.
void AppendHtmlEscaped(std::string& out, std::string_view s) {
    size_t from = 0;
    for (size_t k = 0; k < s.size(); ++k) {
        if (!IsSpecial(s[k])) continue;
        out.append(s.data() + from, k - from);
        out.append(Replacement(s[k]));
        from = k + 1;
    }
    out.append(s.data() + from, s.size() - from);
}

}  // namespace velmora
