// Side files with every line-end convention loaded as the allowed-address and text lists need
// them, and the bitmap's pixel layout that the GIF encoder reads.
#include <gtest/gtest.h>

#include <fstream>

#include "Graphics.h"
#include "StringList.h"
#include "SysUtils.h"
#include "TempDir.h"

using namespace velmora;
using velmora::test::TempDir;

TEST(TextFiles, MixedLineEndsLoadAsLinesAndSaveAsCrLf) {
    TempDir dir;
    const std::string path = dir / "VELMORA.TOP";
    std::ofstream(path, std::ios::binary) << "dos\r\nunix\nmac\r\r\nlast";
    TStringList list;
    list.Add("design-time line");
    list.LoadFromFile(path);
    EXPECT_EQ(list.Items(), (std::vector<std::string>{"dos", "unix", "mac", "", "last"}));

    list.SaveToFile(path);
    std::ifstream in(path, std::ios::binary);
    std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_EQ(bytes, "dos\r\nunix\r\nmac\r\n\r\nlast\r\n");

    std::ofstream(path, std::ios::binary | std::ios::trunc);  // an empty file empties the list
    list.LoadFromFile(path);
    EXPECT_EQ(list.Count(), 0);
    EXPECT_THROW(list.LoadFromFile(dir / "VELMORA.ALL"), EFOpenError);
}

TEST(Bitmap, PixelsAreTwentyFourBitBlueGreenRedAndSurviveResizing) {
    TBitmap bmp(3, 2);
    EXPECT_EQ(bmp.Pixel(2, 1), clBlack);
    bmp.SetPixel(2, 1, RGB(0x11, 0x22, 0x33));
    bmp.SetPixel(3, 0, clWhite);  // outside: ignored
    const uint8_t* row = bmp.ScanLine(1);
    EXPECT_EQ(row[6], 0x33);
    EXPECT_EQ(row[7], 0x22);
    EXPECT_EQ(row[8], 0x11);
    EXPECT_EQ(bmp.Pixel(2, 1), 0x332211u);

    bmp.SetSize(4, 3);
    EXPECT_EQ(bmp.Pixel(2, 1), 0x332211u);
    EXPECT_EQ(bmp.Pixel(3, 2), clBlack);
    bmp.SetSize(2, 2);
    EXPECT_EQ(bmp.Width(), 2);
    EXPECT_EQ(bmp.Pixel(2, 1), clBlack);
    bmp.Fill(clWhite);
    EXPECT_EQ(bmp.Pixel(1, 1), clWhite);
    EXPECT_EQ(bmp.ScanLine(1)[5], 0xFF);
}
