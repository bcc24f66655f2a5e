// GIF's LZW: a string table of up to 4096 codes; when it is full a clear code starts it over.
// Strings are found in a direct array for small colour tables and in an open-addressing hash
// (multiplicative hash, linear probing) otherwise; both give the same codes.
#include "GifLzw.h"

#include <algorithm>
#include <cstring>

namespace velmora {

struct TGifLzw::TDirectTable {
    uint16_t* Cells;
    size_t Size;
    unsigned Bits;
    void Clear() noexcept { std::memset(Cells, 0, Size * sizeof *Cells); }
    uint16_t* Find(unsigned prefix, unsigned index) noexcept { return Cells + ((prefix << Bits) | index); }
    static unsigned Code(const uint16_t* cell) noexcept { return *cell; }
    static void Store(uint16_t* cell, unsigned, unsigned, unsigned code) noexcept {
        *cell = static_cast<uint16_t>(code);
    }
};

struct TGifLzw::THashTable {
    uint32_t* Slots;
    void Clear() noexcept { std::memset(Slots, 0, kSlots * sizeof *Slots); }
    uint32_t* Find(unsigned prefix, unsigned index) noexcept {
        const uint32_t key = (index << 12) | prefix;
        unsigned slot = (key * 2654435761u) >> (32 - kSlotBits);
        uint32_t entry;
        while ((entry = Slots[slot]) != 0 && (entry >> 12) != key) slot = (slot + 1) & (kSlots - 1);
        return Slots + slot;
    }
    static unsigned Code(const uint32_t* slot) noexcept { return *slot & 0xFFF; }
    static void Store(uint32_t* slot, unsigned prefix, unsigned index, unsigned code) noexcept {
        *slot = (((index << 12) | prefix) << 12) | code;
    }
};

uint8_t* TGifLzw::SendChunk(uint8_t* end, TGifOutput& out) {
    out.SubBlocks(FData, kDataChunk);
    const size_t rest = static_cast<size_t>(end - (FData + kDataChunk));
    std::memmove(FData, FData + kDataChunk, rest);
    return FData + rest;
}

// The coder's state lives in locals so that it stays in registers across the loop.
template <class Table>
void TGifLzw::Run(const uint8_t* indices, size_t count, unsigned minSize, Table& table, TGifOutput& out) {
    const unsigned clear = 1u << minSize, end = clear + 1;
    uint64_t bits = 0;       // codes enter at bitCount; whole 32-bit words move on to FData
    unsigned bitCount = 0;
    uint8_t* at = FData;
    unsigned width = 0, widthLimit = 0;  // bits per code; first code needing one more
    unsigned next = 0;                   // the code the next new string gets
    auto emit = [&](unsigned code) {
        bits |= static_cast<uint64_t>(code) << bitCount;
        bitCount += width;
        if (bitCount >= 32) {
            at[0] = static_cast<uint8_t>(bits);
            at[1] = static_cast<uint8_t>(bits >> 8);
            at[2] = static_cast<uint8_t>(bits >> 16);
            at[3] = static_cast<uint8_t>(bits >> 24);
            at += 4;
            bits >>= 32;
            bitCount -= 32;
            if (at >= FData + kDataChunk) at = SendChunk(at, out);
        }
        // The decoder adds its table entry for this code only now, so it widens at the same point.
        if (next >= widthLimit && width < 12) {
            ++width;
            widthLimit <<= 1;
        }
    };
    auto startOver = [&] {
        width = minSize + 1;
        widthLimit = 1u << width;
        next = clear + 2;
        table.Clear();
    };
    startOver();
    emit(clear);
    unsigned prefix = indices[0];
    for (size_t i = 1; i < count; ++i) {
        const unsigned c = indices[i];
        auto* cell = table.Find(prefix, c);
        if (const unsigned code = Table::Code(cell)) {
            prefix = code;
            continue;
        }
        emit(prefix);
        if (next <= kMaxCode) {
            Table::Store(cell, prefix, c, next++);
        } else {
            emit(clear);
            startOver();
        }
        prefix = c;
    }
    emit(prefix);
    emit(end);
    for (; bitCount > 0; bitCount = bitCount > 8 ? bitCount - 8 : 0, bits >>= 8) *at++ = static_cast<uint8_t>(bits);
    out.SubBlocks(FData, static_cast<size_t>(at - FData));
}

void TGifLzw::Compress(const uint8_t* indices, size_t count, int colourBits, TGifOutput& out) {
    const unsigned minSize = static_cast<unsigned>(std::max(colourBits, 2));
    out.Byte(static_cast<uint8_t>(minSize));
    if (minSize <= 4) {
        FDirect.resize(size_t{kMaxCode + 1} << minSize);
        TDirectTable table{FDirect.data(), FDirect.size(), minSize};
        Run(indices, count, minSize, table, out);
    } else {
        THashTable table{FSlots};
        Run(indices, count, minSize, table, out);
    }
    out.Byte(0x00);
}

}  // namespace velmora
