// The LZW compression of a GIF frame's image data: variable-length codes of up to 12 bits with
// clear codes, packed least significant bit first into sub-blocks.
#pragma once

#include <cstddef>
#include <cstdint>

#include "GifOutput.h"

namespace velmora {

// One dictionary, reused for every frame of a file: two fixed tables, cleared by filling.
class TGifLzw {
public:
    TGifLzw() = default;
    TGifLzw(const TGifLzw&) = delete;
    TGifLzw& operator=(const TGifLzw&) = delete;

    // Writes the minimum code size byte (colourBits, at least 2), the indices' codes in
    // sub-blocks and the block terminator. count must be at least 1.
    void Compress(const uint8_t* indices, size_t count, int colourBits, TGifOutput& out);

private:
    static constexpr int kSlots = 5119;  // a prime; about 75% full when the codes run out
    static constexpr uint32_t kEmpty = 0xFFFFFFFF;
    static constexpr unsigned kMaxCode = 4095;

    void ClearDictionary() noexcept;
    void Emit(unsigned code, TGifOutput& out);
    void FlushBits(TGifOutput& out);

    // Bit packing: codes enter at FBitCount; whole 32-bit words move on to FData.
    uint64_t FBits = 0;
    unsigned FBitCount = 0;
    unsigned FCodeWidth = 0, FWidthLimit = 0;  // bits per code; first code needing one more
    unsigned FNextCode = 0;
    size_t FDataLength = 0;
    static constexpr size_t kDataChunk = 255 * 64;
    uint8_t FData[kDataChunk + 8];

    uint32_t FKeys[kSlots + 1];   // index * 4096 + prefix code
    uint16_t FCodes[kSlots + 1];
};

}  // namespace velmora
