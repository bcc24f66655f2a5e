// GIF's LZW: a string table of up to 4096 codes kept in an open-addressing hash (first probe
// from the index and the prefix, then steps back by a displacement that depends on the slot);
// when the table is full a clear code starts it over. Widths grow as a decoder expects: after a
// code is written, before the string it ends is added.
#include "GifLzw.h"

#include <algorithm>
#include <cstring>

namespace velmora {

void TGifLzw::ClearDictionary() noexcept { std::fill(std::begin(FKeys), std::end(FKeys), kEmpty); }

void TGifLzw::Emit(unsigned code, TGifOutput& out) {
    FBits |= static_cast<uint64_t>(code) << FBitCount;
    FBitCount += FCodeWidth;
    if (FBitCount >= 32) {
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
    // The decoder adds its table entry for this code only now, so it widens at the same point.
    if (FNextCode >= FWidthLimit && FCodeWidth < 12) {
        ++FCodeWidth;
        FWidthLimit <<= 1;
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

void TGifLzw::Compress(const uint8_t* indices, size_t count, int colourBits, TGifOutput& out) {
    const unsigned minSize = static_cast<unsigned>(std::max(colourBits, 2));
    const unsigned clear = 1u << minSize, end = clear + 1;
    out.Byte(static_cast<uint8_t>(minSize));
    auto startOver = [&] {
        FCodeWidth = minSize + 1;
        FWidthLimit = 1u << FCodeWidth;
        FNextCode = clear + 2;
        ClearDictionary();
    };
    FBits = 0;
    FBitCount = 0;
    FDataLength = 0;
    startOver();
    Emit(clear, out);

    unsigned prefix = indices[0];
    for (size_t i = 1; i < count; ++i) {
        const unsigned c = indices[i];
        const uint32_t key = (c << 12) | prefix;
        int slot = static_cast<int>((c << 4) ^ prefix);
        if (FKeys[slot] == key) {
            prefix = FCodes[slot];
            continue;
        }
        if (FKeys[slot] != kEmpty) {
            const int step = slot == 0 ? 1 : kSlots - slot;
            bool found = false;
            do {
                slot -= step;
                if (slot < 0) slot += kSlots;
                if (FKeys[slot] == key) {
                    found = true;
                    break;
                }
            } while (FKeys[slot] != kEmpty);
            if (found) {
                prefix = FCodes[slot];
                continue;
            }
        }
        Emit(prefix, out);
        prefix = c;
        if (FNextCode <= kMaxCode) {
            FKeys[slot] = key;
            FCodes[slot] = static_cast<uint16_t>(FNextCode++);
        } else {
            Emit(clear, out);
            startOver();
        }
    }
    Emit(prefix, out);
    Emit(end, out);
    FlushBits(out);
    out.Byte(0x00);
}

}  // namespace velmora
