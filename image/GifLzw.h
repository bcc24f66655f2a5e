// The LZW compression of a GIF frame's image data: variable-length codes of up to 12 bits with
// clear codes, packed least significant bit first into sub-blocks.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "GifOutput.h"

namespace velmora {

// One dictionary, reused for every frame of a file: fixed tables, cleared by filling.
class TGifLzw {
public:
    TGifLzw() = default;
    TGifLzw(const TGifLzw&) = delete;
    TGifLzw& operator=(const TGifLzw&) = delete;

    // Writes the minimum code size byte (colourBits, at least 2), the indices' codes in
    // sub-blocks and the block terminator. count must be at least 1.
    void Compress(const uint8_t* indices, size_t count, int colourBits, TGifOutput& out);

    // Where a string (prefix code, index) is kept. Code 0 means absent: no string gets a code
    // below 6. Small tables of up to 16 colours index a direct array by prefix and index; larger
    // ones hash.
    struct TDirectTable;
    struct THashTable;

private:
    template <class Table>
    void Run(const uint8_t* indices, size_t count, unsigned minSize, Table& table, TGifOutput& out);
    void Emit(unsigned code, TGifOutput& out) {
        FBits |= static_cast<uint64_t>(code) << FBitCount;
        FBitCount += FCodeWidth;
        if (FBitCount >= 32) StoreWord(out);
        // The decoder adds its table entry for this code only now, so it widens at the same point.
        if (FNextCode >= FWidthLimit && FCodeWidth < 12) {
            ++FCodeWidth;
            FWidthLimit <<= 1;
        }
    }
    void StoreWord(TGifOutput& out);
    void FlushBits(TGifOutput& out);

    static constexpr unsigned kMaxCode = 4095;
    // Bit packing: codes enter at FBitCount; whole 32-bit words move on to FData.
    uint64_t FBits = 0;
    unsigned FBitCount = 0;
    unsigned FCodeWidth = 0, FWidthLimit = 0;  // bits per code; first code needing one more
    unsigned FNextCode = 0;
    size_t FDataLength = 0;
    static constexpr size_t kDataChunk = 255 * 64;
    uint8_t FData[kDataChunk + 8];

    // At most 4096 strings in 8192 slots: under half full, so a look-up rarely takes a second
    // probe. A slot holds (index * 4096 + prefix code) * 4096 + code in one word; 0 is empty.
    static constexpr unsigned kSlotBits = 13, kSlots = 1u << kSlotBits;
    uint32_t FSlots[kSlots];
    std::vector<uint16_t> FDirect;  // (prefix code << colour bits) + index -> code
};

}  // namespace velmora
