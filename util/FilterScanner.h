// Lexical rules of the template language: which text between two delimiters is an entry, and a
// finder for the next "%" or "#" that remembers what it has already scanned.
#pragma once

#include <cstddef>
#include <cstring>
#include <string_view>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace velmora {

// Text between two delimiters is an entry only when all its bytes are allowed: "$", "'", "*",
// "+", "-" and everything from "/" up; a blank only right after a leading "IF" or "ELSEIF".
// Anything else (blanks in prose, punctuation, control bytes) makes it plain text, which keeps
// "50% off, 20% more" and CSS colours out of the entry machinery.
bool IsEntryCandidate(std::string_view candidate) noexcept;

// True for the bytes an entry's name may hold (all but the blank that follows IF or ELSEIF).
inline bool IsEntryByte(char c) noexcept {
    unsigned char b = static_cast<unsigned char>(c);
    return b >= 0x2F || b == 0x24 || b == 0x27 || b == 0x2A || b == 0x2B || b == 0x2D;
}

// The scans below run over every byte of every page, so they test sixteen bytes at a time where
// the processor allows; the byte loops after them give the same answers for the rest.

// Position of the first "%" or "#" at or after from, or npos.
inline size_t FindDelimiter(std::string_view text, size_t from) noexcept {
    size_t k = from;
#if defined(__SSE2__)
    // Thirty-two bytes a round: stretches between entries are mostly longer, and every round's
    // end is a branch that may be mispredicted.
    const __m128i percent = _mm_set1_epi8('%');
    const __m128i hash = _mm_set1_epi8('#');
    auto hits = [&](size_t at) {
        __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(text.data() + at));
        return static_cast<unsigned>(
            _mm_movemask_epi8(_mm_or_si128(_mm_cmpeq_epi8(v, percent), _mm_cmpeq_epi8(v, hash))));
    };
    for (; k + 32 <= text.size(); k += 32) {
        unsigned found = hits(k) | hits(k + 16) << 16;
        if (found) return k + static_cast<size_t>(__builtin_ctz(found));
    }
    if (k + 16 <= text.size()) {
        if (unsigned found = hits(k)) return k + static_cast<size_t>(__builtin_ctz(found));
        k += 16;
    }
#endif
    for (; k < text.size(); ++k)
        if (text[k] == '%' || text[k] == '#') return k;
    return std::string_view::npos;
}

// Position of the first byte at or after from that may not stand in an entry's name (a
// delimiter, a blank, punctuation), or the text's size when there is none.
inline size_t EntryEnd(std::string_view text, size_t from) noexcept {
    size_t k = from;
#if defined(__SSE2__)
    // Bytes from 0x2F up are the unsigned maximum of themselves and 0x2F. Of the five single
    // bytes, "*" and "+" are one test: "*" with its lowest bit set is "+".
    auto is = [](__m128i v, char c) { return _mm_cmpeq_epi8(v, _mm_set1_epi8(c)); };
    for (; k + 16 <= text.size(); k += 16) {
        __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(text.data() + k));
        __m128i high = _mm_cmpeq_epi8(_mm_max_epu8(v, _mm_set1_epi8(0x2F)), v);
        __m128i starOrPlus = is(_mm_or_si128(v, _mm_set1_epi8(1)), 0x2B);
        __m128i ok = _mm_or_si128(_mm_or_si128(high, starOrPlus),
                                  _mm_or_si128(_mm_or_si128(is(v, 0x24), is(v, 0x27)), is(v, 0x2D)));
        int bad = ~_mm_movemask_epi8(ok) & 0xFFFF;
        if (bad) return k + static_cast<size_t>(__builtin_ctz(static_cast<unsigned>(bad)));
    }
#endif
    while (k < text.size() && IsEntryByte(text[k])) ++k;
    return k;
}

// Finds closing delimiters in one text. Each delimiter's next position is cached, so a pass over
// the text reads every byte about once per delimiter however often the filter asks.
class TDelimiterFinder {
public:
    static constexpr size_t npos = std::string_view::npos;

    explicit TDelimiterFinder(std::string_view text) noexcept : FText(text) {}

    // Position of the first c (one of the two delimiters) at or after from, or npos.
    // Inline: it runs twice or three times per entry of every page.
    size_t Next(char c, size_t from) noexcept {
        TCache& cache = FCache[c == '%' ? 0 : 1];
        if (cache.From <= from && (cache.Found >= from || cache.Found == npos) && cache.From != npos)
            return cache.Found;
        cache.From = from;
        cache.Found = npos;
        if (from < FText.size()) {
            const void* hit = std::memchr(FText.data() + from, c, FText.size() - from);
            if (hit) cache.Found = static_cast<size_t>(static_cast<const char*>(hit) - FText.data());
        }
        return cache.Found;
    }

private:
    struct TCache {
        size_t From = npos;  // where the cached search started; npos: nothing cached
        size_t Found = npos;
    };
    TCache FCache[2];
    std::string_view FText;
};

}  // namespace velmora
