// HTML escaping of request values for the template filter (and any page writer that needs it).
// Bytes are treated as 8-bit text: only the five markup characters change, nothing is decoded.
#include "HtmlEscape.h"

#include <cstdint>
#include <cstring>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace velmora {

namespace {

// The replacement of each byte value: empty for every byte that is copied as it is.
struct TEscapeTable {
    std::string_view Text[256] = {};
    constexpr TEscapeTable() {
        Text[static_cast<unsigned char>('&')] = "&amp;";
        Text[static_cast<unsigned char>('<')] = "&lt;";
        Text[static_cast<unsigned char>('>')] = "&gt;";
        Text[static_cast<unsigned char>('"')] = "&quot;";
        Text[static_cast<unsigned char>('\'')] = "&#39;";
    }
    std::string_view operator[](char c) const noexcept { return Text[static_cast<unsigned char>(c)]; }
};
constexpr TEscapeTable Escapes;

constexpr uint64_t Ones = 0x0101010101010101ull;
constexpr uint64_t Highs = 0x8080808080808080ull;

// High bit set in each zero byte of x. Bytes above the lowest zero byte may be flagged falsely
// (by the borrow), but the lowest flag is always exact, which is all the search below reads.
uint64_t ZeroBytes(uint64_t x) noexcept { return (x - Ones) & ~x & Highs; }

// Flags the five bytes in a little-endian word: "&" and "'" differ in the lowest bit, "<" and
// ">" in the second, so three tests cover them. Zero bytes are not flagged.
uint64_t SpecialIn(uint64_t word) noexcept {
    return ZeroBytes((word | Ones) ^ (Ones * 0x27)) | ZeroBytes((word | (Ones * 0x02)) ^ (Ones * 0x3E)) |
           ZeroBytes(word ^ (Ones * 0x22));
}

uint64_t Load64(const char* p) noexcept {
    uint64_t w;
    std::memcpy(&w, p, 8);
    return w;
}

#if defined(__SSE2__)
// One bit per byte of the sixteen at p, set for the five bytes; the same three tests as SpecialIn.
unsigned SpecialMask16(const char* p) noexcept {
    __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    __m128i ampOrQuote = _mm_cmpeq_epi8(_mm_or_si128(v, _mm_set1_epi8(0x01)), _mm_set1_epi8(0x27));
    __m128i angle = _mm_cmpeq_epi8(_mm_or_si128(v, _mm_set1_epi8(0x02)), _mm_set1_epi8(0x3E));
    __m128i doubleQuote = _mm_cmpeq_epi8(v, _mm_set1_epi8(0x22));
    return static_cast<unsigned>(_mm_movemask_epi8(_mm_or_si128(_mm_or_si128(ampOrQuote, angle), doubleQuote)));
}
#endif

// Every value of every answer page passes through here, so many bytes are tested at a time
// without a branch per byte. A rest shorter than a round is tested as the last round's worth of
// s with the bytes before from shifted out; only a value shorter than a word takes the byte loop.
inline size_t FindSpecial(const char* p, size_t n, size_t k) noexcept {
    static_assert(__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__, "the lowest flag must be the first byte");
#if defined(__SSE2__)
    for (; k + 16 <= n; k += 16)
        if (unsigned mask = SpecialMask16(p + k)) return k + static_cast<size_t>(__builtin_ctz(mask));
    if (n >= 16) {
        if (k >= n) return std::string_view::npos;
        unsigned mask = SpecialMask16(p + n - 16) >> (k - (n - 16));
        return mask ? k + static_cast<size_t>(__builtin_ctz(mask)) : std::string_view::npos;
    }
#endif
    for (; k + 8 <= n; k += 8)
        if (uint64_t flags = SpecialIn(Load64(p + k))) return k + static_cast<size_t>(__builtin_ctzll(flags)) / 8;
    if (k >= n) return std::string_view::npos;
    if (n >= 8) {
        // The zero bytes shifted in are not flagged.
        uint64_t flags = SpecialIn(Load64(p + n - 8) >> (8 * (k - (n - 8))));
        return flags ? k + static_cast<size_t>(__builtin_ctzll(flags)) / 8 : std::string_view::npos;
    }
    for (; k < n; ++k)
        if (!Escapes[p[k]].empty()) return k;
    return std::string_view::npos;
}

}  // namespace

size_t FindHtmlSpecial(std::string_view s, size_t from) noexcept { return FindSpecial(s.data(), s.size(), from); }

std::string HtmlEscape(std::string_view s) {
    std::string out;
    out.reserve(s.size() + s.size() / 8);
    AppendHtmlEscaped(out, s);
    return out;
}

// Copies the stretches between special bytes whole: most values have none or few.
void AppendHtmlEscaped(std::string& out, std::string_view s) {
    size_t from = 0;
    for (size_t k = FindSpecial(s.data(), s.size(), 0); k != std::string_view::npos;
         k = FindSpecial(s.data(), s.size(), from)) {
        out.append(s.data() + from, k - from);
        out.append(Escapes[s[k]]);
        from = k + 1;
    }
    out.append(s.data() + from, s.size() - from);
}

}  // namespace velmora
