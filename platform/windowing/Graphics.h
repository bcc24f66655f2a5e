// TBitmap: a picture of 24-bit pixels held in memory, the input of the GIF encoder.
// Colours are TColor values 0x00BBGGRR; rows are stored top first, each pixel as blue, green, red.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace velmora {

using TColor = uint32_t;  // 0x00BBGGRR

constexpr TColor RGB(uint8_t r, uint8_t g, uint8_t b) noexcept {
    return static_cast<TColor>(r) | (static_cast<TColor>(g) << 8) | (static_cast<TColor>(b) << 16);
}
constexpr uint8_t GetRValue(TColor c) noexcept { return static_cast<uint8_t>(c); }
constexpr uint8_t GetGValue(TColor c) noexcept { return static_cast<uint8_t>(c >> 8); }
constexpr uint8_t GetBValue(TColor c) noexcept { return static_cast<uint8_t>(c >> 16); }

constexpr TColor clBlack = 0x000000, clWhite = 0xFFFFFF;

class TBitmap {
public:
    TBitmap() = default;
    TBitmap(int width, int height) { SetSize(width, height); }

    int Width() const noexcept { return FWidth; }
    int Height() const noexcept { return FHeight; }
    // New pixels are black; pixels inside both the old and the new size keep their colour.
    // Negative sizes count as 0.
    void SetSize(int width, int height);

    // Out-of-range coordinates read as black and are ignored when written, as on a canvas.
    TColor Pixel(int x, int y) const noexcept;
    void SetPixel(int x, int y, TColor color) noexcept;
    void Fill(TColor color) noexcept;

    // Row y as Width() pixels of blue, green, red bytes; y must be in range.
    uint8_t* ScanLine(int y) noexcept { return FPixels.data() + Offset(0, y); }
    const uint8_t* ScanLine(int y) const noexcept { return FPixels.data() + Offset(0, y); }

private:
    bool Inside(int x, int y) const noexcept { return x >= 0 && y >= 0 && x < FWidth && y < FHeight; }
    std::size_t Offset(int x, int y) const noexcept {
        return (static_cast<std::size_t>(y) * static_cast<std::size_t>(FWidth) + static_cast<std::size_t>(x)) * 3;
    }

    int FWidth = 0, FHeight = 0;
    std::vector<uint8_t> FPixels;
};

}  // namespace velmora
