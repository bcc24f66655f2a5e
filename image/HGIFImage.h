// Image output to the browser: THttpStream hands every byte it is given to the current request's
// engine; WriteGifImage sends one bitmap as the response's GIF image.
#pragma once

#include "HGif.h"
#include "Streams.h"

namespace velmora {

// A write-only stream onto the response of the request running on the calling thread (through
// the adaptor table). It keeps nothing: reading and seeking see an empty stream.
class THttpStream : public TMemoryStream {
public:
    long Write(const void* buffer, long count) override;
    // Encodes the list into the response; see EncodeGif.
    bool WriteGif(const TGifFrameList& list) { return EncodeGif(*this, list); }
};

// The frame settings WriteGifImage starts from; process-wide, set them before requests run.
TGifFrame& DefaultGifFrame() noexcept;

// Marks the response as a GIF image and writes the bitmap as one with the default frame
// settings. False, with no image written, for a bitmap of more than 256 colours or no pixels.
bool WriteGifImage(const TBitmap& bitmap);

}  // namespace velmora
