// The GIF89a encoder: frames with their options, the frame list, and EncodeGif, which writes a
// list as one GIF file into any stream. THttpStream (HGIFImage.h) sends it to the browser.
#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "Graphics.h"
#include "Streams.h"

namespace velmora {

// One picture of an image or an animation. The bitmap belongs to the caller and must outlive
// the encoding.
struct TGifFrame {
    const TBitmap* Bitmap = nullptr;
    int FrameLeft = -1, FrameTop = -1;  // negative reads as 0
    int Delay = 1000;                   // milliseconds; written in hundredths of a second
    bool Interlaced = false;
    bool Transparent = false;
    TColor TransparentColor = clWhite;
    uint8_t Disposal = 0;               // 0 none, 1 keep, 2 restore background, 3 restore previous
    std::string Comment;                // written before the frame when not empty
};

struct TGifFrameList {
    static constexpr int MaxFrames = 256;
    int Count = 0;
    std::array<const TGifFrame*, MaxFrames> Frames{};
    uint16_t LoopCount = 0;             // 0 loops for ever; written only for an animation
    bool GlobalPalette = false;         // all frames share one colour table when they fit in it
};

// A list of just this frame (one shared table, looping for ever).
TGifFrameList SingleFrameList(const TGifFrame& frame);

// Writes the list as one GIF89a file. False, with nothing written, when a frame has more than
// 256 colours (in its own table, or in the first frame's), when the list has no frames or more
// than 256, when a frame has no bitmap or no pixels, or when the picture is larger than the
// format's 65535 by 65535.
bool EncodeGif(TStream& out, const TGifFrameList& list);

// The comment written before the trailer of every file.
extern const char* const GifEncoderComment;

}  // namespace velmora
