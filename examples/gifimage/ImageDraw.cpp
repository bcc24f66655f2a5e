// Drawing for the image example: everything in code, no font or picture files.
#include "ImageDraw.h"

namespace velmora::example {

namespace {

constexpr int kBlock = 4, kGap = 4;
// Rows of each digit, top first; bit 2 is the left column.
constexpr unsigned char kDigitRows[10][5] = {
    {7, 5, 5, 5, 7}, {2, 6, 2, 2, 7}, {7, 1, 7, 4, 7}, {7, 1, 7, 1, 7}, {5, 5, 7, 1, 1},
    {7, 4, 7, 1, 7}, {7, 4, 7, 5, 7}, {7, 1, 1, 1, 1}, {7, 5, 7, 5, 7}, {7, 5, 7, 1, 7},
};

void FillBlock(TBitmap& b, int left, int top, TColor color) {
    for (int y = 0; y < kBlock; ++y)
        for (int x = 0; x < kBlock; ++x) b.SetPixel(left + x, top + y, color);
}

}  // namespace

TBitmap DrawCounter(const std::string& digits) {
    const int cell = 3 * kBlock + kGap;
    TBitmap b(static_cast<int>(digits.size()) * cell + kGap, 5 * kBlock + 2 * kGap);
    b.Fill(clBlack);
    for (size_t i = 0; i < digits.size(); ++i) {
        if (digits[i] < '0' || digits[i] > '9') continue;
        const unsigned char* rows = kDigitRows[digits[i] - '0'];
        for (int row = 0; row < 5; ++row)
            for (int col = 0; col < 3; ++col)
                if (rows[row] & (4 >> col))
                    FillBlock(b, kGap + static_cast<int>(i) * cell + col * kBlock, kGap + row * kBlock, RGB(0, 220, 0));
    }
    return b;
}

TColor PatternColor(int index) {
    return RGB(static_cast<uint8_t>(index), static_cast<uint8_t>(index * 7), static_cast<uint8_t>(255 - index));
}

TBitmap DrawPattern(const TImageQuery& q, int frame) {
    TBitmap b(q.Width, q.Height);
    for (int y = 0; y < q.Height; ++y)
        for (int x = 0; x < q.Width; ++x) b.SetPixel(x, y, PatternColor((x / 4 + y / 4 + frame) % q.Colors));
    return b;
}

}  // namespace velmora::example
