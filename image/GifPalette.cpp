// Colour indexing for the GIF encoder: one hash probe per pixel (rarely two), so indexing stays
// well below the cost of compression.
#include "GifPalette.h"

#include <cstring>

namespace velmora {

void TGifPalette::Clear() noexcept {
    FCount = 0;
    std::memset(FSlotColor, 0xFF, sizeof FSlotColor);
}

int TGifPalette::Bits() const noexcept {
    int bits = 1;
    while ((1 << bits) < FCount) ++bits;
    return bits;
}

int TGifPalette::Find(TColor color) const noexcept {
    for (unsigned s = Slot(color);; s = (s + 1) & (kSlots - 1)) {
        if (FSlotColor[s] == color) return FSlotIndex[s];
        if (FSlotColor[s] == kEmpty) return -1;
    }
}

// -1 when the table is full. The slot table never fills: 256 entries in 4096 slots.
int TGifPalette::Add(TColor color) noexcept {
    unsigned s = Slot(color);
    for (; FSlotColor[s] != kEmpty; s = (s + 1) & (kSlots - 1))
        if (FSlotColor[s] == color) return FSlotIndex[s];
    if (FCount == MaxColors) return -1;
    FColors[FCount] = color;
    FSlotColor[s] = color;
    FSlotIndex[s] = static_cast<uint8_t>(FCount);
    return FCount++;
}

// No shortcut for runs of one colour: on pictures with few colours such a test guesses wrong
// half the time, and the probe costs less than a wrong guess.
bool TGifPalette::IndexRow(const uint8_t* row, int width, uint8_t* out) noexcept {
    for (int x = 0; x < width; ++x, row += 3) {
        const TColor c = RGB(row[2], row[1], row[0]);
        const unsigned s = Slot(c);
        if (FSlotColor[s] == c) {
            out[x] = FSlotIndex[s];
            continue;
        }
        const int index = Add(c);
        if (index < 0) return false;
        out[x] = static_cast<uint8_t>(index);
    }
    return true;
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
