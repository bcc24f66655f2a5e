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

// The high bit of each byte of word that equals c (exact as a whole: a borrow can mark a byte
// above a true match, never a word without one).
uint64_t BytesEqual(uint64_t word, unsigned char c) noexcept {
    uint64_t x = word ^ (Ones * c);
    return (x - Ones) & ~x & Highs;
}

uint64_t SpecialIn(uint64_t word) noexcept {
    return BytesEqual(word, '&') | BytesEqual(word, '<') | BytesEqual(word, '>') | BytesEqual(word, '"') |
           BytesEqual(word, '\'');
}

}  // namespace

// Every value of every answer page passes through here. Eight bytes are tested at a time without
// a branch per byte: values are short and of varying length, so a loop per byte mostly pays for
// mispredicting where it ends.
bool NeedsHtmlEscape(std::string_view s) noexcept {
    uint64_t found = 0;
    size_t k = 0;
    for (; k + 8 <= s.size(); k += 8) {
        uint64_t word;
        std::memcpy(&word, s.data() + k, 8);
        found |= SpecialIn(word);
    }
    uint64_t tail = 0;  // zero bytes are not special
    std::memcpy(&tail, s.data() + k, s.size() - k);
    return (found | SpecialIn(tail)) != 0;
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
