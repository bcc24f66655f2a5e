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

#if defined(__SSE2__)
// One bit per byte of v, set for the five bytes: "&" and "'" differ in the lowest bit, "<" and
// ">" in the second, so three tests cover them. Zero bytes are not special.
unsigned SpecialMask(__m128i v) noexcept {
    __m128i ampOrQuote = _mm_cmpeq_epi8(_mm_or_si128(v, _mm_set1_epi8(0x01)), _mm_set1_epi8(0x27));
    __m128i angle = _mm_cmpeq_epi8(_mm_or_si128(v, _mm_set1_epi8(0x02)), _mm_set1_epi8(0x3E));
    __m128i doubleQuote = _mm_cmpeq_epi8(v, _mm_set1_epi8(0x22));
    return static_cast<unsigned>(_mm_movemask_epi8(_mm_or_si128(_mm_or_si128(ampOrQuote, angle), doubleQuote)));
}

unsigned SpecialMask16(const char* p) noexcept {
    return SpecialMask(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p)));
}

// The mask of width bytes at the start of p[0, n) in its low half and of the width bytes at its
// end in the high half (8 apart); together they cover all n bytes when width <= n <= 2 * width.
// The width is a constant, so the loads are single moves instead of calls.
template <size_t Width>
unsigned SpecialMaskEnds(const char* p, size_t n) noexcept {
    uint64_t first = 0, last = 0;
    std::memcpy(&first, p, Width);
    std::memcpy(&last, p + n - Width, Width);
    return SpecialMask(_mm_set_epi64x(static_cast<long long>(last), static_cast<long long>(first)));
}

size_t LowestBit(unsigned mask) noexcept { return static_cast<size_t>(__builtin_ctz(mask)); }
#endif

// Every value of every answer page passes through here, so sixteen bytes are tested at a time
// without a branch per byte. A rest shorter than that is tested as the last sixteen bytes of s
// with the bytes before k shifted out; a value shorter than sixteen bytes as its two ends in one
// round; only a value of three bytes or less takes the byte loop.
inline size_t FindSpecial(const char* p, size_t n, size_t k) noexcept {
    if (k >= n) return std::string_view::npos;
#if defined(__SSE2__)
    if (n >= 16) {
        for (; k + 16 <= n; k += 16)
            if (unsigned mask = SpecialMask16(p + k)) return k + LowestBit(mask);
        if (k >= n) return std::string_view::npos;
        unsigned mask = SpecialMask16(p + n - 16) >> (k - (n - 16));
        return mask ? k + LowestBit(mask) : std::string_view::npos;
    }
    if (n >= 4) {
        size_t width = n >= 8 ? 8 : 4;
        unsigned mask = n >= 8 ? SpecialMaskEnds<8>(p, n) : SpecialMaskEnds<4>(p, n);
        if (unsigned head = mask & 0xFFu & (0xFFu << k)) return LowestBit(head);
        size_t tail = n - width;  // where the high half starts in s
        unsigned high = (mask >> 8) & (0xFFu << (k > tail ? k - tail : 0));
        return high ? tail + LowestBit(high) : std::string_view::npos;
    }
#endif
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
