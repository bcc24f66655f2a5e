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
    // Passes the first kDataChunk bytes of FData on as sub-blocks and moves the rest (less than
    // a word) to the front; returns where writing goes on.
    uint8_t* SendChunk(uint8_t* end, TGifOutput& out);

    static constexpr unsigned kMaxCode = 4095;
    // Packed codes gather here, whole 32-bit words at a time, before going out as sub-blocks.
    static constexpr size_t kDataChunk = 255 * 64;
    uint8_t FData[kDataChunk + 8];

    // At most 4096 strings in 32768 slots: an eighth full at most. Most look-ups miss (a new
    // string per code on busy pictures), and a miss ends at the first empty slot, so a sparse
    // table saves the probes that a half-full one mostly spends; it still fits the L2 cache.
    // A slot holds (index * 4096 + prefix code) * 4096 + code in one word; 0 is empty.
    static constexpr unsigned kSlotBits = 15, kSlots = 1u << kSlotBits;
    uint32_t FSlots[kSlots];
    std::vector<uint16_t> FDirect;  // (prefix code << colour bits) + index -> code
};

}  // namespace velmora
