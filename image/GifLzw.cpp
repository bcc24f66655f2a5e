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

void TGifLzw::StoreWord(TGifOutput& out) {
    uint8_t* p = FData + FDataLength;
    p[0] = static_cast<uint8_t>(FBits);
    p[1] = static_cast<uint8_t>(FBits >> 8);
    p[2] = static_cast<uint8_t>(FBits >> 16);
    p[3] = static_cast<uint8_t>(FBits >> 24);
    FDataLength += 4;
    FBits >>= 32;
    FBitCount -= 32;
    if (FDataLength >= kDataChunk) {
        out.SubBlocks(FData, kDataChunk);
        FDataLength -= kDataChunk;
        std::memmove(FData, FData + kDataChunk, FDataLength);
    }
}

void TGifLzw::FlushBits(TGifOutput& out) {
    while (FBitCount > 0) {
        FData[FDataLength++] = static_cast<uint8_t>(FBits);
        FBits >>= 8;
        FBitCount = FBitCount > 8 ? FBitCount - 8 : 0;
    }
    out.SubBlocks(FData, FDataLength);
    FDataLength = 0;
}

template <class Table>
void TGifLzw::Run(const uint8_t* indices, size_t count, unsigned minSize, Table& table, TGifOutput& out) {
    const unsigned clear = 1u << minSize, end = clear + 1;
    auto startOver = [&] {
        FCodeWidth = minSize + 1;
        FWidthLimit = 1u << FCodeWidth;
        FNextCode = clear + 2;
        table.Clear();
    };
    startOver();
    Emit(clear, out);
    unsigned prefix = indices[0];
    for (size_t i = 1; i < count; ++i) {
        const unsigned c = indices[i];
        auto* cell = table.Find(prefix, c);
        if (const unsigned code = Table::Code(cell)) {
            prefix = code;
            continue;
        }
        Emit(prefix, out);
        if (FNextCode <= kMaxCode) {
            Table::Store(cell, prefix, c, FNextCode++);
        } else {
            Emit(clear, out);
            startOver();
        }
        prefix = c;
    }
    Emit(prefix, out);
    Emit(end, out);
}

void TGifLzw::Compress(const uint8_t* indices, size_t count, int colourBits, TGifOutput& out) {
    const unsigned minSize = static_cast<unsigned>(std::max(colourBits, 2));
    out.Byte(static_cast<uint8_t>(minSize));
    FBits = 0;
    FBitCount = 0;
    FDataLength = 0;
    if (minSize <= 4) {
        FDirect.resize(size_t{kMaxCode + 1} << minSize);
        TDirectTable table{FDirect.data(), FDirect.size(), minSize};
        Run(indices, count, minSize, table, out);
    } else {
        THashTable table{FSlots};
        Run(indices, count, minSize, table, out);
    }
    FlushBits(out);
    out.Byte(0x00);
}

}  // namespace velmora
