// Colour indexing for the GIF encoder: one hash probe per pixel (rarely two), so indexing stays
// well below the cost of compression.
#include "GifPalette.h"

#include <cstring>

namespace velmora {

void TGifPalette::Clear() noexcept {
    FCount = 0;
    std::memset(FSlotKey, 0xFF, sizeof FSlotKey);
}

int TGifPalette::Bits() const noexcept {
    int bits = 1;
    while ((1 << bits) < FCount) ++bits;
    return bits;
}

int TGifPalette::Find(TColor color) const noexcept {
    const uint32_t key = SwapRedBlue(color & 0xFFFFFF);
    for (unsigned s = Slot(key);; s = (s + 1) & (kSlots - 1)) {
        if (FSlotKey[s] == key) return FSlotIndex[s];
        if (FSlotKey[s] == kEmpty) return -1;
    }
}

// -1 when the table is full. The slot table never fills: 256 entries in 4096 slots.
int TGifPalette::Add(uint32_t key) noexcept {
    unsigned s = Slot(key);
    for (; FSlotKey[s] != kEmpty; s = (s + 1) & (kSlots - 1))
        if (FSlotKey[s] == key) return FSlotIndex[s];
    if (FCount == MaxColors) return -1;
    FColors[FCount] = SwapRedBlue(key);
    FSlotKey[s] = key;
    FSlotIndex[s] = static_cast<uint8_t>(FCount);
    return FCount++;
}

// No shortcut for runs of one colour: on pictures with few colours such a test guesses wrong
// half the time, and the probe costs less than a wrong guess. Every pixel but the row's last is
// read as one 4-byte word whose top byte (the next pixel's blue) is masked off.
bool TGifPalette::IndexRow(const uint8_t* row, int width, uint8_t* out) noexcept {
    auto index = [&](int x, uint32_t key) {
        const unsigned s = Slot(key);
        if (FSlotKey[s] == key) {
            out[x] = FSlotIndex[s];
            return true;
        }
        const int i = Add(key);
        out[x] = static_cast<uint8_t>(i);
        return i >= 0;
    };
    const int last = width - 1;
    for (int x = 0; x < last; ++x, row += 3) {
        uint32_t word;
        std::memcpy(&word, row, 4);
        if (!index(x, word & 0xFFFFFF)) return false;
    }
    return index(last, row[0] | (uint32_t{row[1]} << 8) | (uint32_t{row[2]} << 16));
}

bool TGifPalette::IndexBitmap(const TBitmap& bitmap, bool interlaced, std::vector<uint8_t>& indices) {
    const int width = bitmap.Width();
    size_t at = indices.size();
    indices.resize(at + static_cast<size_t>(width) * static_cast<size_t>(bitmap.Height()));
    for (int y : TransmissionRows(bitmap.Height(), interlaced)) {
        if (!IndexRow(bitmap.ScanLine(y), width, indices.data() + at)) return false;
        at += static_cast<size_t>(width);
    }
    return true;
}

std::vector<int> TransmissionRows(int height, bool interlaced) {
    std::vector<int> rows;
    rows.reserve(static_cast<size_t>(height > 0 ? height : 0));
    if (!interlaced) {
        for (int y = 0; y < height; ++y) rows.push_back(y);
        return rows;
    }
    static constexpr int kStart[4] = {0, 4, 2, 1}, kStep[4] = {8, 8, 4, 2};
    for (int pass = 0; pass < 4; ++pass)
        for (int y = kStart[pass]; y < height; y += kStep[pass]) rows.push_back(y);
    return rows;
}

}  // namespace velmora
