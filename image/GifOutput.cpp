// Gathering GIF output: the stream is written in blocks of up to 32 KB, so a response engine
// sees a few large writes rather than one per sub-block.
#include "GifOutput.h"

#include <algorithm>
#include <cstring>

namespace velmora {

void TGifOutput::Bytes(const void* data, size_t count) {
    const uint8_t* p = static_cast<const uint8_t*>(data);
    while (count > 0) {
        if (FLength == sizeof FBuffer) Flush();
        size_t n = std::min(count, sizeof FBuffer - FLength);
        std::memcpy(FBuffer + FLength, p, n);
        FLength += n;
        p += n;
        count -= n;
    }
}

void TGifOutput::SubBlocks(const void* data, size_t count) {
    const uint8_t* p = static_cast<const uint8_t*>(data);
    while (count > 0) {
        size_t n = std::min<size_t>(count, 255);
        Byte(static_cast<uint8_t>(n));
        Bytes(p, n);
        p += n;
        count -= n;
    }
}

void TGifOutput::CommentExtension(const std::string& text) {
    if (text.empty()) return;
    Byte(0x21);
    Byte(0xFE);
    SubBlocks(text.data(), text.size());
    Byte(0x00);
}

void TGifOutput::Flush() {
    if (FLength > 0) FStream.WriteBuffer(FBuffer, static_cast<long>(FLength));
    FLength = 0;
}

}  // namespace velmora
