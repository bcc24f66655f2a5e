// TGifPalette: the colour table of a GIF being written, and the indexing of a frame's pixels
// into it in transmission order (top to bottom, or the four interlace passes).
#pragma once

#include <cstdint>
#include <vector>

#include "Graphics.h"

namespace velmora {

class TGifPalette {
public:
    static constexpr int MaxColors = 256;

    TGifPalette() { Clear(); }
    void Clear() noexcept;
    int Count() const noexcept { return FCount; }
    TColor Color(int index) const noexcept { return FColors[index]; }
    // Bits per entry of the written table: 1 for up to 2 colours ... 8 for up to 256.
    int Bits() const noexcept;
    // The colour's index, or -1 when the table does not hold it.
    int Find(TColor color) const noexcept;

    // Appends each pixel's index to indices, rows in transmission order; a colour not yet in
    // the table is added. False when the bitmap needs more than 256 entries; the table and
    // indices are then left part-filled.
    bool IndexBitmap(const TBitmap& bitmap, bool interlaced, std::vector<uint8_t>& indices);

private:
    // Open addressing on the colour: indices are the same as a linear search in order of
    // first appearance would give, at a cost that does not grow with the table.
    // 256 colours in 4096 slots: a pixel almost always finds its colour at the first probe.
    // Slots hold a pixel's bytes as they lie in a row (blue lowest), so a pixel is looked up
    // straight from one load; the 64-bit multiply spreads the regular steps of drawn palettes
    // (grey ramps, colour cubes) over distinct slots.
    static constexpr unsigned kSlotBits = 12, kSlots = 1u << kSlotBits;
    static constexpr uint32_t kEmpty = 0xFFFFFFFF;  // no 24-bit colour
    static unsigned Slot(uint32_t key) noexcept {
        return static_cast<unsigned>((key * 0x9E3779B97F4A7C15ull) >> (64 - kSlotBits));
    }
    // Swaps red and blue: turns a colour into its slot key and back.
    static uint32_t SwapRedBlue(uint32_t v) noexcept { return ((v & 0xFF) << 16) | (v & 0xFF00) | ((v >> 16) & 0xFF); }
    int Add(uint32_t key) noexcept;
    bool IndexRow(const uint8_t* row, int width, uint8_t* out) noexcept;

    TColor FColors[MaxColors];
    uint32_t FSlotKey[kSlots];
    uint8_t FSlotIndex[kSlots];
    int FCount = 0;
};

// The rows of a frame in transmission order: 0, 8, 16 ..., 4, 12 ..., 2, 6 ..., 1, 3 ... when
// interlaced, else top to bottom.
std::vector<int> TransmissionRows(int height, bool interlaced);

}  // namespace velmora
