// The GIF encoder judged by independent decoders: pictures of 1 to 256 colours (dictionary resets
// on large noise included), the colour limit, interlacing, animations with their own tables,
// comments and loop count, and the image written through a request.
#include <gtest/gtest.h>

#include <random>
#include <string>

#include "GifDecoders.h"
#include "HGIFImage.h"
#include "TestEngine.h"

using namespace velmora;
using namespace velmora::test;
using namespace std::string_literals;

namespace {

TColor Palette(int i) { return RGB(static_cast<uint8_t>(i), static_cast<uint8_t>(i * 7), static_cast<uint8_t>(255 - i)); }

// Pixels drawn from `colors` colours, every colour at least once when the picture is big enough.
TBitmap Noise(int w, int h, int colors, unsigned seed) {
    TBitmap b(w, h);
    std::mt19937 rng(seed);
    for (int i = 0; i < w * h; ++i)
        b.SetPixel(i % w, i / w, Palette(i < colors ? i : static_cast<int>(rng() % static_cast<unsigned>(colors))));
    return b;
}

std::string Encode(const TGifFrameList& list, bool* ok = nullptr) {
    TMemoryStream s;
    const bool done = EncodeGif(s, list);
    if (ok) *ok = done;
    return s.Bytes();
}

std::string EncodeOne(TGifFrame frame) {
    bool ok = false;
    std::string gif = Encode(SingleFrameList(frame), &ok);
    EXPECT_TRUE(ok);
    return gif;
}

// Both decoders must give back exactly the bitmap.
void ExpectDecodesTo(const std::string& gif, const TBitmap& b) {
    std::string why;
    const std::string rgb = DecodeWithGif2rgb(gif, why);
    EXPECT_TRUE(rgb == BitmapRgb(b)) << "gif2rgb: " << why << " size " << rgb.size();
    TPilDecode pil = DecodeWithPil(gif);
    ASSERT_TRUE(pil.Ok) << pil.Report;
    EXPECT_EQ(pil.FramesRgba.size(), 1u);
    EXPECT_TRUE(pil.FramesRgba[0] == BitmapRgba(b)) << "Pillow differs";
    EXPECT_NE(GifText(gif).find("GIF file terminated normally."), std::string::npos) << "giftext refused the file";
}

TEST(GifEncoder, DecodersReadBackEveryColourCountAndDictionaryReset) {
    struct TCase { int w, h, colors; bool interlaced; };
    const TCase cases[] = {
        {1, 1, 1, false}, {37, 23, 2, false}, {40, 30, 3, true}, {64, 9, 5, false}, {50, 50, 16, false},
        {90, 70, 100, true}, {64, 64, 256, false},
        {700, 700, 256, false},  // far more than 4096 codes: many clear codes
        {1000, 300, 2, false},   // the same with 3-bit starting codes
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(std::to_string(c.w) + "x" + std::to_string(c.h) + " colours " + std::to_string(c.colors));
        TBitmap b = Noise(c.w, c.h, c.colors, 7);
        TGifFrame f;
        f.Bitmap = &b;
        f.Interlaced = c.interlaced;
        const std::string gif = EncodeOne(f);
        ExpectDecodesTo(gif, b);
        const int bits = c.colors <= 2 ? 1 : c.colors <= 4 ? 2 : c.colors <= 8 ? 3 : c.colors <= 16 ? 4 : c.colors <= 128 ? 7 : 8;
        ASSERT_GT(gif.size(), 13u);
        EXPECT_EQ(static_cast<uint8_t>(gif[10]), 0x80 + bits - 1);
        // After the table, the graphic control extension and the image descriptor: the minimum code size.
        EXPECT_EQ(gif[13 + (3 << bits) + 8 + 10], static_cast<char>(std::max(bits, 2)));
    }
    // Long runs: strings grow to the longest the 12-bit codes allow.
    TBitmap flat(500, 400);
    flat.Fill(RGB(1, 2, 3));
    for (int x = 0; x < 500; x += 50) flat.SetPixel(x, 399, clBlack);
    TGifFrame f;
    f.Bitmap = &flat;
    ExpectDecodesTo(EncodeOne(f), flat);
}

TEST(GifEncoder, MoreThan256ColoursWritesNothing) {
    TBitmap b = Noise(16, 16, 256, 1);
    TGifFrame f;
    f.Bitmap = &b;
    EXPECT_EQ(EncodeOne(f).size() > 0, true);
    b.SetSize(16, 17);
    b.SetPixel(0, 16, RGB(1, 1, 1));  // the 257th colour
    TGifFrameList list = SingleFrameList(f);
    bool ok = true;
    EXPECT_EQ(Encode(list, &ok), "");
    EXPECT_FALSE(ok);
    // In an animation with a table per frame the fault in the last frame also stops everything.
    TBitmap small = Noise(4, 4, 3, 2);
    TGifFrame first;
    first.Bitmap = &small;
    list.Count = 2;
    list.Frames = {&first, &f};
    EXPECT_EQ(Encode(list, &ok), "");
    EXPECT_FALSE(ok);
}

TEST(GifEncoder, InterlacedRowsAndTransparency) {
    TBitmap b(3, 10);
    for (int y = 0; y < 10; ++y)
        for (int x = 0; x < 3; ++x) b.SetPixel(x, y, Palette(y * 20));
    TGifFrame f;
    f.Bitmap = &b;
    f.Interlaced = true;
    f.Transparent = true;
    f.TransparentColor = Palette(60);  // row 3, the 7th row sent
    const std::string gif = EncodeOne(f);
    ASSERT_TRUE(gif.find("\x21\xF9\x04\x01\x64\x00\x06\x00"s) != std::string::npos)  // delay 100, index 6
        << GifText(gif);
    EXPECT_EQ(gif.find("NETSCAPE2.0"), std::string::npos);
    TPilDecode pil = DecodeWithPil(gif);
    ASSERT_TRUE(pil.Ok) << pil.Report;
    EXPECT_TRUE(pil.FramesRgba[0] == BitmapRgba(b, Palette(60)));
    std::string why;
    EXPECT_TRUE(DecodeWithGif2rgb(gif, why) == BitmapRgb(b)) << why;
}

TEST(GifEncoder, AnimationWithLoopCountCommentsAndTablePerFrame) {
    // 200 colours each, 400 together: the shared table asked for does not fit, so each frame
    // gets its own.
    TBitmap a = Noise(30, 20, 200, 3), b(30, 20), c = Noise(10, 5, 2, 4);
    for (int i = 0; i < 600; ++i) b.SetPixel(i % 30, i / 30, RGB(static_cast<uint8_t>(i % 200), 1, 1));
    TGifFrame fa, fb, fc;
    fa.Bitmap = &a;
    fa.Comment = std::string(300, 'c');
    fa.Delay = 250;
    fb.Bitmap = &b;
    fb.Delay = 1000;
    fb.Interlaced = true;
    fc.Bitmap = &c;
    fc.FrameLeft = 20;
    fc.FrameTop = 15;  // reaches beyond the other frames: the screen grows to 30 by 20
    fc.Disposal = 2;
    fc.Comment = "last";
    for (bool global : {false, true}) {
        SCOPED_TRACE(global ? "global palette asked for" : "own palettes");
        TGifFrameList list;
        list.Count = 3;
        list.Frames = {&fa, &fb, &fc};
        list.LoopCount = 5;
        list.GlobalPalette = global;
        const std::string gif = Encode(list);
        EXPECT_EQ(static_cast<uint8_t>(gif[10]), 0x00);  // no global table
        EXPECT_NE(gif.find("\x21\xFE\xFF" + std::string(255, 'c') + "\x2D" + std::string(45, 'c') + '\0'),
                  std::string::npos);
        TPilDecode pil = DecodeWithPil(gif);
        ASSERT_TRUE(pil.Ok) << pil.Report;
        EXPECT_EQ(pil.Width, 30);
        EXPECT_EQ(pil.Height, 20);
        EXPECT_EQ(pil.Loop, 5);
        ASSERT_EQ(pil.FramesRgba.size(), 3u);
        EXPECT_TRUE(pil.FramesRgba[0] == BitmapRgba(a));
        EXPECT_TRUE(pil.FramesRgba[1] == BitmapRgba(b));
        // The last frame is drawn over the second one.
        TBitmap third = b;
        for (int y = 0; y < 5; ++y)
            for (int x = 0; x < 10; ++x) third.SetPixel(20 + x, 15 + y, c.Pixel(x, y));
        EXPECT_TRUE(pil.FramesRgba[2] == BitmapRgba(third));
        EXPECT_EQ(pil.Durations, (std::vector<int>{250, 1000, 1000}));
        EXPECT_EQ(pil.Comments.front(), std::string(300, 'c'));
        const std::string text = GifText(gif);
        EXPECT_NE(text.find("Image #3"), std::string::npos) << text;
        EXPECT_NE(text.find("GIF file terminated normally."), std::string::npos) << text;
        const std::string closing = GifEncoderComment;
        EXPECT_EQ(gif.substr(gif.size() - closing.size() - 5),
                  "\x21\xFE"s + static_cast<char>(closing.size()) + closing + "\0\x3B"s);
    }
    // Frames that fit one table share it: no table of their own.
    TGifFrameList list;
    list.Count = 2;
    list.Frames = {&fc, &fc};
    list.GlobalPalette = true;
    const std::string gif = Encode(list);
    EXPECT_EQ(static_cast<uint8_t>(gif[10]), 0x80);
    const std::string descriptor = "\x2C\x14\x00\x0F\x00\x0A\x00\x05\x00\x00"s;  // flags 0: no own table
    EXPECT_NE(gif.find(descriptor), gif.rfind(descriptor));
    EXPECT_NE(gif.rfind(descriptor), std::string::npos);
    TPilDecode pil = DecodeWithPil(gif);
    ASSERT_TRUE(pil.Ok) << pil.Report;
    EXPECT_EQ(pil.FramesRgba.size(), 2u);
}

TEST(GifEncoder, WriteGifImageAnswersTheRequestWithAGif) {
    TTestEngine engine;
    TBitmap b = Noise(20, 10, 6, 5);
    bool ok = false;
    engine.OnExecRequest = [&](TObject*) { ok = WriteGifImage(b); };
    engine.HandleRequest();
    EXPECT_TRUE(ok);
    const std::string out = engine.Output();
    const std::string head = "HTTP/1.1 200 OK\r\ncontent-type:image/gif\r\n\r\n";
    ASSERT_EQ(out.substr(0, head.size()), head);
    ExpectDecodesTo(out.substr(head.size()), b);
}

}  // namespace
