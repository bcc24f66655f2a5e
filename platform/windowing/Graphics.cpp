// TBitmap: resizing that keeps the overlapping pixels, and bounds-checked pixel access.
// The byte order (blue, green, red) is that of a 24-bit device-independent bitmap row.
#include "Graphics.h"

#include <algorithm>
#include <cstring>

namespace velmora {

void TBitmap::SetSize(int width, int height) {
    width = std::max(width, 0);
    height = std::max(height, 0);
    std::vector<uint8_t> pixels(static_cast<size_t>(width) * static_cast<size_t>(height) * 3, 0);
    const int keepW = std::min(width, FWidth), keepH = std::min(height, FHeight);
    for (int y = 0; y < keepH; ++y)
        std::memcpy(pixels.data() + static_cast<size_t>(y) * static_cast<size_t>(width) * 3,
                    FPixels.data() + Offset(0, y), static_cast<size_t>(keepW) * 3);
    FPixels.swap(pixels);
    FWidth = width;
    FHeight = height;
}

TColor TBitmap::Pixel(int x, int y) const noexcept {
    if (!Inside(x, y)) return clBlack;
    const uint8_t* p = FPixels.data() + Offset(x, y);
    return RGB(p[2], p[1], p[0]);
}

void TBitmap::SetPixel(int x, int y, TColor color) noexcept {
    if (!Inside(x, y)) return;
    uint8_t* p = FPixels.data() + Offset(x, y);
    p[0] = GetBValue(color);
    p[1] = GetGValue(color);
    p[2] = GetRValue(color);
}

void TBitmap::Fill(TColor color) noexcept {
    for (int y = 0; y < FHeight; ++y)
        for (int x = 0; x < FWidth; ++x) SetPixel(x, y, color);
}

}  // namespace velmora
