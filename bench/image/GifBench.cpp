// Encoding 1024x1024 pictures of 256 and of 2 colours: our encoder from the bitmap (colour
// look-up included) against giflib given the very same colour indices, both writing to memory.
// Reports the best of several rounds in Mpixel/s, and the file sizes.
#include <gif_lib.h>

#include <chrono>
#include <cstdio>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "GifPalette.h"
#include "HGif.h"

using namespace velmora;

namespace {

constexpr int kSide = 1024;
constexpr int kRounds = 7;

struct TScene {
    std::string Name;
    TBitmap Bitmap;
};

TColor Color(int i) { return RGB(static_cast<uint8_t>(i), static_cast<uint8_t>(i * 5), static_cast<uint8_t>(i * 11)); }

TScene Noise(int colors) {
    TScene s{std::to_string(colors) + " colours, noise", TBitmap(kSide, kSide)};
    std::mt19937 rng(42);
    for (int y = 0; y < kSide; ++y)
        for (int x = 0; x < kSide; ++x) s.Bitmap.SetPixel(x, y, Color(static_cast<int>(rng() % static_cast<unsigned>(colors))));
    return s;
}

// Rings and bands: runs and repeats as in drawn pictures, charts and counters.
TScene Drawing(int colors) {
    TScene s{std::to_string(colors) + " colours, drawing", TBitmap(kSide, kSide)};
    for (int y = 0; y < kSide; ++y)
        for (int x = 0; x < kSide; ++x) {
            const int dx = x - 400, dy = y - 600;
            s.Bitmap.SetPixel(x, y, Color(((dx * dx + dy * dy) / 2000 + x / 97) % colors));
        }
    return s;
}

std::string EncodeOurs(const TBitmap& b) {
    TGifFrame frame;
    frame.Bitmap = &b;
    TMemoryStream out;
    if (!EncodeGif(out, SingleFrameList(frame))) std::fprintf(stderr, "encoder refused the picture\n");
    return out.Bytes();
}

int AppendOutput(GifFileType* gif, const GifByteType* data, int count) {
    static_cast<std::string*>(gif->UserData)->append(reinterpret_cast<const char*>(data), static_cast<size_t>(count));
    return count;
}

// The picture's indices and table as our encoder assigns them, made once outside the timing.
struct TIndexed {
    std::vector<uint8_t> Indices;
    std::vector<GifColorType> Colors;
    int Bits = 1;
};

TIndexed IndexForGiflib(const TBitmap& b) {
    TIndexed t;
    TGifPalette palette;
    palette.IndexBitmap(b, false, t.Indices);
    t.Bits = palette.Bits();
    t.Colors.resize(size_t{1} << t.Bits);
    for (int i = 0; i < palette.Count(); ++i) {
        const TColor c = palette.Color(i);
        t.Colors[static_cast<size_t>(i)] = {GetRValue(c), GetGValue(c), GetBValue(c)};
    }
    return t;
}

std::string EncodeGiflib(const TIndexed& t) {
    std::string out;
    int error = 0;
    GifFileType* gif = EGifOpen(&out, AppendOutput, &error);
    if (!gif) return out;
    EGifSetGifVersion(gif, true);
    ColorMapObject* map = GifMakeMapObject(1 << t.Bits, t.Colors.data());
    EGifPutScreenDesc(gif, kSide, kSide, t.Bits, 0, map);
    EGifPutImageDesc(gif, 0, 0, kSide, kSide, false, nullptr);
    for (int y = 0; y < kSide; ++y)
        EGifPutLine(gif, const_cast<GifPixelType*>(t.Indices.data()) + static_cast<size_t>(y) * kSide, kSide);
    EGifCloseFile(gif, &error);
    GifFreeMapObject(map);
    return out;
}

struct TRate {
    double Best = 0;
    size_t Bytes = 0;
};

// Rounds alternate between the encoders, so a busy machine slows both alike.
void Measure(const std::function<std::string()>& encode, TRate& rate) {
    auto start = std::chrono::steady_clock::now();
    rate.Bytes = encode().size();
    std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
    rate.Best = std::max(rate.Best, kSide * double{kSide} / took.count() / 1e6);
}

}  // namespace

int main() {
    std::printf("GIF encoding of %dx%d pictures, best of %d rounds, output to memory\n", kSide, kSide, kRounds);
    std::printf("%-22s %-34s %10s %10s\n", "picture", "encoder", "Mpixel/s", "bytes");
    for (TScene scene : {Noise(256), Drawing(256), Noise(2), Drawing(2)}) {
        const TIndexed indexed = IndexForGiflib(scene.Bitmap);
        TRate ours, theirs;
        for (int r = 0; r < kRounds; ++r) {
            Measure([&] { return EncodeOurs(scene.Bitmap); }, ours);
            Measure([&] { return EncodeGiflib(indexed); }, theirs);
        }
        std::printf("%-22s %-34s %10.1f %10zu\n", scene.Name.c_str(), "velmora (from the bitmap)", ours.Best, ours.Bytes);
        std::printf("%-22s %-34s %10.1f %10zu\n", "", "giflib 5.2 (from the indices)", theirs.Best, theirs.Bytes);
        std::printf("%-22s %-34s %9.2fx %+9.2f%%\n", "", "velmora against giflib", ours.Best / theirs.Best,
                    100.0 * (double(ours.Bytes) - double(theirs.Bytes)) / double(theirs.Bytes));
    }
    return 0;
}
