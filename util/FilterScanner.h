// Lexical rules of the template language: which text between two delimiters is an entry, and a
// finder for the next "%" or "#" that remembers what it has already scanned.
#pragma once

#include <cstddef>
#include <cstring>
#include <string_view>

namespace velmora {

// Text between two delimiters is an entry only when all its bytes are allowed: "$", "'", "*",
// "+", "-" and everything from "/" up; a blank only right after a leading "IF" or "ELSEIF".
// Anything else (blanks in prose, punctuation, control bytes) makes it plain text, which keeps
// "50% off, 20% more" and CSS colours out of the entry machinery.
bool IsEntryCandidate(std::string_view candidate) noexcept;

// Finds delimiters in one text. Each delimiter's next position is cached, so a pass over the text
// reads every byte about once per delimiter however often the filter asks.
class TDelimiterFinder {
public:
    static constexpr size_t npos = std::string_view::npos;

    explicit TDelimiterFinder(std::string_view text) noexcept : FText(text) {}

    // Position of the first "%" or "#" at or after from, or npos.
    size_t First(size_t from) noexcept {
        size_t percent = Next('%', from);
        size_t hash = Next('#', from);
        return percent < hash ? percent : hash;
    }

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
