// TGifOutput: the bytes of a GIF on their way to a stream, gathered into large writes, with the
// format's little-endian words and its data sub-blocks (a length byte of at most 255, the bytes).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "Streams.h"

namespace velmora {

class TGifOutput {
public:
    explicit TGifOutput(TStream& stream) : FStream(stream) {}
    TGifOutput(const TGifOutput&) = delete;
    TGifOutput& operator=(const TGifOutput&) = delete;

    void Byte(uint8_t b) {
        if (FLength == sizeof FBuffer) Flush();
        FBuffer[FLength++] = b;
    }
    void Word(unsigned w) {
        Byte(static_cast<uint8_t>(w));
        Byte(static_cast<uint8_t>(w >> 8));
    }
    void Bytes(const void* data, size_t count);
    // The data as sub-blocks of 255 bytes and one shorter last one; no terminator.
    void SubBlocks(const void* data, size_t count);
    // Text in sub-blocks with the 0x00 terminator; nothing at all for "".
    void CommentExtension(const std::string& text);
    // Hands the gathered bytes to the stream; call once at the end.
    void Flush();

private:
    TStream& FStream;
    size_t FLength = 0;
    uint8_t FBuffer[32768];
};

}  // namespace velmora
