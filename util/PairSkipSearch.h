// TPairSkipSearch: finds a fixed byte string in a buffer by looking at one pair of bytes in every
// stretch of its length less one; the multipart decoder finds its boundary lines with it.
#pragma once

#include <cstdint>
#include <cstring>
#include <string>

namespace velmora {

// Any place where the needle stands holds one of the pairs at offsets 0, S, 2S, ... (S = the
// needle's length less one), and that pair is one of the needle's own. Only those pairs are
// looked up in a table of the needle's pairs: binary content is passed reading two bytes in S,
// where a search for one byte read them all and stopped every 256 or so.
class TPairSkipSearch {
public:
    size_t Length() const noexcept { return FNeedle.size(); }

    explicit TPairSkipSearch(std::string needle) : FNeedle(std::move(needle)) {
        for (size_t i = 0; i + 1 < FNeedle.size(); ++i) Set(Pair(&FNeedle[i]));
    }

    // The first t in [0, count - length] where the needle stands and accept(t) holds, or -1.
    template <class Accept>
    int Find(const char* p, int count, Accept accept) const {
        const int n = static_cast<int>(FNeedle.size());
        const int stride = n - 1;  // at least 2: needles are 3 bytes or more
        for (int at = 0; at + 1 < count; at += stride) {
            if (!Has(Pair(p + at))) continue;
            // The starts whose needle pair would lie at this offset, in rising order: none of
            // them is below a start found at an earlier offset.
            for (int i = n - 2; i >= 0; --i) {
                const int t = at - i;
                if (t < 0 || t + n > count || FNeedle[i] != p[at] || FNeedle[i + 1] != p[at + 1]) continue;
                if (std::memcmp(p + t, FNeedle.data(), FNeedle.size()) == 0 && accept(t)) return t;
            }
        }
        return -1;
    }

private:
    // The two bytes read as one number (in the machine's byte order: table and search agree).
    static size_t Pair(const char* q) noexcept {
        uint16_t v;
        std::memcpy(&v, q, sizeof v);
        return v;
    }

    void Set(size_t pair) noexcept { FPairs[pair >> 6] |= uint64_t{1} << (pair & 63); }
    bool Has(size_t pair) const noexcept { return (FPairs[pair >> 6] >> (pair & 63)) & 1; }

    std::string FNeedle;
    uint64_t FPairs[65536 / 64] = {};  // one bit per pair of bytes
};

}  // namespace velmora
