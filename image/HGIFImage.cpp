// THttpStream and WriteGifImage: the GIF encoder's way onto the response of the calling
// thread's request, through the adaptor table, so image/ never links the engine.
#include "HGIFImage.h"

#include <algorithm>
#include <climits>

#include "HAdaptor.h"

namespace velmora {

// The adaptor takes int counts: a larger block goes in pieces.
long THttpStream::Write(const void* buffer, long count) {
    const char* p = static_cast<const char*>(buffer);
    for (long left = count; left > 0;) {
        const int n = static_cast<int>(std::min<long>(left, INT_MAX));
        AdaptWriteBuffer(p, n);
        p += n;
        left -= n;
    }
    return count > 0 ? count : 0;
}

TGifFrame& DefaultGifFrame() noexcept {
    static TGifFrame frame;
    return frame;
}

bool WriteGifImage(const TBitmap& bitmap) {
    AdaptSetContentKind(2);
    TGifFrame frame = DefaultGifFrame();
    frame.FrameLeft = std::max(frame.FrameLeft, 0);
    frame.FrameTop = std::max(frame.FrameTop, 0);
    frame.Bitmap = &bitmap;
    THttpStream stream;
    return stream.WriteGif(SingleFrameList(frame));
}

}  // namespace velmora
