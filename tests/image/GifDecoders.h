// Independent GIF decoders for tests: giflib's gif2rgb and giftext, and Pillow (through
// gif_frames.py), run as child processes on a GIF written to a private temporary folder.
#pragma once

#include <string>
#include <vector>

#include "Graphics.h"

namespace velmora::test {

struct TPilDecode {
    bool Ok = false;
    std::string Report;                 // the script's lines, or why it failed
    int Width = 0, Height = 0, Loop = -1;
    std::vector<std::string> FramesRgba;  // one RGBA picture of the logical screen per frame
    std::vector<int> Durations;           // milliseconds
    std::vector<std::string> Comments;
};

TPilDecode DecodeWithPil(const std::string& gif);
// The logical screen as RGB bytes after every frame was drawn; "" when gif2rgb refused the file.
std::string DecodeWithGif2rgb(const std::string& gif, std::string& report);
// giftext's description of the file; "" when it refused the file.
std::string GifText(const std::string& gif);

// The bitmap as the RGBA (alpha 255, or 0 for transparent) or RGB bytes decoders give.
std::string BitmapRgba(const TBitmap& bitmap, TColor transparent = 0xFFFFFFFF);
std::string BitmapRgb(const TBitmap& bitmap);

}  // namespace velmora::test
