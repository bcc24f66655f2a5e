// Base64 lines, quoted-printable, line-break normalisation and dot-stuffing, each checked by
// decoding again here rather than against hand-written encoder output.
#include <gtest/gtest.h>

#include <random>

#include "MailDecode.h"
#include "MailEncoding.h"
#include "StringList.h"

namespace velmora {
namespace {

std::string Bytes(size_t n, unsigned seed) {
    std::mt19937 gen(seed);
    std::string s(n, '\0');
    for (char& c : s) c = static_cast<char>(gen());
    return s;
}

using test::DecodeBase64;
using test::DecodeQuotedPrintable;

TEST(MailEncoding, Base64LinesOfSixtyCharacters) {
    for (size_t n : {0, 1, 2, 3, 44, 45, 46, 90, 1000, 100000}) {
        std::string data = Bytes(n, static_cast<unsigned>(n));
        std::string text = EncodeBase64Lines(data);
        EXPECT_EQ(DecodeBase64(text), data) << n << " bytes";
        size_t padding = (3 - n % 3) % 3;
        ASSERT_EQ(text.size(), (n + 2) / 3 * 4 + 2 * ((n + 44) / 45)) << n << " bytes";
        if (n > 0) {
            EXPECT_EQ(text.substr(text.size() - 2 - padding, padding), std::string(padding, '='));
        }
        for (const std::string& line : SplitLines(text)) EXPECT_LE(line.size(), 60u);
    }
    std::string text = EncodeBase64Lines(Bytes(46, 1));
    ASSERT_EQ(text.size(), 60u + 2 + 4 + 2);
    EXPECT_EQ(text.substr(60, 2), "\r\n");
    EXPECT_EQ(text.substr(64), "==\r\n");
    // Fed in pieces, the encoder gives the same lines.
    std::string data = Bytes(1000, 7), pieces;
    TBase64LineEncoder encoder;
    for (size_t at = 0; at < data.size(); at += 7)
        encoder.Add(data.data() + at, std::min<size_t>(7, data.size() - at), pieces);
    encoder.Finish(pieces);
    EXPECT_EQ(pieces, EncodeBase64Lines(data));
}

TEST(MailEncoding, QuotedPrintable) {
    EXPECT_EQ(EncodeQuotedPrintable("a=41b\r\n"), "a=3D41b\r\n");
    EXPECT_EQ(EncodeQuotedPrintable("K\xf6ln \r\n\tx\t\r\n"), "K=F6ln=20\r\n\tx=09\r\n");
    const std::string texts[] = {
        std::string(200, 'x') + "\r\n" + std::string(75, 'y') + "=\r\n",
        std::string(76, 'z') + "\r\n" + std::string(77, 'z'),
        "lone\rCR and lone\nLF\r\n.leading dot\r\n" + Bytes(3000, 3) + "\r\n",
        std::string(74, 'a') + "\xe9\xe9 \r\n" + std::string(75, ' ') + "\r\n",
    };
    for (const std::string& text : texts) {
        std::string encoded = EncodeQuotedPrintable(text);
        EXPECT_EQ(DecodeQuotedPrintable(encoded), text);
        for (const std::string& line : SplitLines(encoded)) {
            EXPECT_LE(line.size(), 76u) << line;
            for (char c : line) {
                auto b = static_cast<unsigned char>(c);
                EXPECT_TRUE((b >= 32 && b < 127) || c == '\t') << "byte " << int(b);
            }
            if (!line.empty()) {
                EXPECT_NE(line.back(), ' ');
            }
        }
    }
}

TEST(MailEncoding, DeclaredBodyEncoding) {
    TStringList header;
    header.Add("Content-Type: text/plain");
    EXPECT_EQ(DeclaredBodyEncoding(header), TBodyEncoding::None);
    header.Add("content-transfer-encoding:  Quoted-Printable ");
    EXPECT_EQ(DeclaredBodyEncoding(header), TBodyEncoding::QuotedPrintable);
    header.SetString(1, "Content-Transfer-Encoding: base64");
    EXPECT_EQ(DeclaredBodyEncoding(header), TBodyEncoding::Base64);
    header.SetString(1, "Content-Transfer-Encoding: 8bit");
    EXPECT_EQ(DeclaredBodyEncoding(header), TBodyEncoding::None);
}

TEST(MailEncoding, LineBreaksAndDotStuffing) {
    EXPECT_EQ(NormalizeLineBreaks("a\nb\rc\r\nd\n\r"), "a\r\nb\r\nc\r\nd\r\n\r\n");
    EXPECT_EQ(DotStuff(".\r\n.x\r\nx.\r\n..\r\n.", true), "..\r\n..x\r\nx.\r\n...\r\n..");
    EXPECT_EQ(DotStuff(".x\r\n", false), ".x\r\n");
    EXPECT_EQ(DotStuff("a\n.b\r.c", true), "a\n.b\r.c");  // only CR LF begins a line
}

}  // namespace
}  // namespace velmora
