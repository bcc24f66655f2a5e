// Tests of the multipart decoder on well-formed bodies: the documented edge cases, and files far
// larger than the ring whose closing boundary falls at every position around a slice.
#include <gtest/gtest.h>

#include <filesystem>
#include <random>
#include <regex>

#include "DecodeHelper.h"
#include "TempDir.h"

namespace velmora::test {
namespace {

const std::string B = "------Bnd4711xq";

struct Case {
    const char* Label;
    std::string Body;
    std::string WantData;
    std::vector<std::string> WantFiles;
};

TEST(Multipart, DecodesTheDocumentedCases) {
    const std::string ct = "\r\nContent-Type: ";
    const std::vector<Case> cases = {
        {"example",
         Part("--xyz", Disposition("text"), "1+1=2, ok") +
             Part("--xyz", FileDisposition("att", "C:\\docs\\note.txt") + ct + "text/plain", "hello") + "--xyz--\r\n",
         "text=1%2B1%3D2%2C+ok&att_CONTENT_TYPE=+text/plain&att=C%3A\\docs\\note.txt&att_FILENAME=<upload 0>&",
         {"hello"}},
        {"empty value", Part(B, Disposition("e"), "") + B + "--\r\n", "e=&", {}},
        {"file input without a file",
         Part(B, FileDisposition("f", "") + ct + "application/octet-stream", "") + B + "--\r\n",
         "f_CONTENT_TYPE=+application/octet%2Dstream&f=&", {}},
        {"file without Content-Type", Part(B, FileDisposition("f", "a.txt"), "abc") + B + "--\r\n",
         "f=a.txt&f_FILENAME=<upload 0>&", {"abc"}},
        {"empty file", Part(B, FileDisposition("f", "e.txt") + ct + "text/plain", "") + B + "--\r\n",
         "f_CONTENT_TYPE=+text/plain&f=e.txt&f_FILENAME=<upload 0>&", {""}},
        {"type without blank, parameters cut",
         Part(B, FileDisposition("f", "p.gif") + "\r\nContent-Type:image/gif; x=1", "GIF") + B + "--\r\n",
         "f_CONTENT_TYPE=image/gif&f=p.gif&f_FILENAME=<upload 0>&", {"GIF"}},
        {"lower-case content-type is not a type",
         Part(B, FileDisposition("f", "a.txt") + "\r\ncontent-type: text/plain", "x") + B + "--\r\n",
         "f=a.txt&f_FILENAME=<upload 0>&", {"x"}},
        {"line breaks inside a value",
         Part(B, Disposition("v"), "l1\r\nl2\r\n") + B + "--\r\n", "v=l1%0D%0Al2%0D%0A&", {}},
        {"bare LF line ends",
         B + "\n" + Disposition("a") + "\n\nx\ny\n" + B + "\n" + FileDisposition("f", "n.txt") + "\n\nz\n" + B + "--\n",
         "a=x%0Ay&f=n.txt&f_FILENAME=<upload 0>&", {"z"}},
        {"file content keeps its own line ends",
         Part(B, FileDisposition("f", "t.txt"), "\r\nA\r\n\r\n") + B + "--\r\n",
         "f=t.txt&f_FILENAME=<upload 0>&", {"\r\nA\r\n\r\n"}},
        {"Content-Type before the name", Part(B, "Content-Type: text/plain\r\n" + Disposition("n"), "v") + B + "--\r\n",
         "n_CONTENT_TYPE=+text/plain&n=v&", {}},
        {"part without a name is skipped",
         Part(B, "Content-Disposition: form-data", "zzz") + Part(B, Disposition("k"), "1") + B + "--\r\n", "k=1&", {}},
        {"filename before name names the part after the file",
         Part(B, "Content-Disposition: form-data; filename=\"p.gif\"; name=\"f\"", "G") + B + "--\r\n",
         "p.gif=p.gif&p.gif_FILENAME=<upload 0>&", {"G"}},
        {"blanks around the name", Part(B, Disposition("  spaced "), "1") + B + "--\r\n", "spaced=1&", {}},
        {"a value ends at a zero byte", Part(B, Disposition("z"), std::string("ab\0cd", 5)) + B + "--\r\n", "z=ab&", {}},
        {"closing line without line end", Part(B, Disposition("a"), "1") + B + "--", "a=1&", {}},
        {"two files", Part(B, FileDisposition("f", "1.txt"), "one") + Part(B, FileDisposition("g", "2.txt"), "two") + B + "--\r\n",
         "f=1.txt&f_FILENAME=<upload 0>&g=2.txt&g_FILENAME=<upload 1>&", {"one", "two"}},
    };
    TempDir dir;
    for (const auto& c : cases) {
        Decoded d = Decode(c.Body, dir.Path());
        EXPECT_EQ(d.Normal, c.WantData) << c.Label;
        EXPECT_EQ(d.Contents, c.WantFiles) << c.Label;
    }
}

TEST(Multipart, NamesUploadFilesAfterTheClientFileInTempDir) {
    TempDir dir;
    struct Name { std::string Client, Stem; };
    for (const Name& n : std::vector<Name>{{"C:\\docs\\note.txt", "note"}, {"a.b.c", "a"}, {"photo", "photo"}}) {
        Decoded d = Decode(Part(B, FileDisposition("f", n.Client), "x") + B + "--\r\n", dir.Path());
        ASSERT_EQ(d.Paths.size(), 1u);
        const std::filesystem::path p(d.Paths[0]);
        EXPECT_EQ(p.parent_path(), std::filesystem::path(dir.Path())) << n.Client;
        EXPECT_TRUE(std::regex_match(p.filename().string(), std::regex("[0-9]{1,7}" + n.Stem + "\\.tmp"))) << p;
        EXPECT_TRUE(d.Existed[0]);
    }
}

TEST(Multipart, FieldNamesWithFormDataSyntaxReadBackExactly) {
    TempDir dir;
    const std::string odd = "a&b=c%41+d";
    Decoded d = Decode(Part(B, Disposition(odd), "1") + Part(B, Disposition("mailto"), "x@example.org") + B + "--\r\n",
                       dir.Path());
    EXPECT_EQ(FindFormValue(odd, d.Data, "-"), "1");
    EXPECT_EQ(FindFormValue("b", d.Data, "-"), "-");
    EXPECT_EQ(FindFormValue("mailto", d.Data, "-"), "x@example.org");
    EXPECT_EQ(ParseFormFieldNames(d.Data)->Items(), (std::vector<std::string>{odd, "mailto"}));
}

// Content that comes close to the boundary without being it: random bytes without the boundary's
// last byte, mixed with copies of the boundary line that differ in one byte before the last.
std::string NearMisses(const std::string& boundary, size_t size, std::mt19937& rnd) {
    std::string s;
    const char last = boundary.back();
    while (s.size() < size) {
        if (rnd() % 8 == 0) {
            std::string fake = "\r\n" + boundary;
            size_t at = 4 + rnd() % (boundary.size() - 3);  // one of the compared bytes, not the last
            fake[at] = fake[at] == 'Q' ? 'R' : 'Q';
            s += fake;
        } else {
            char c = static_cast<char>(rnd());
            s += c == last ? '\r' : c;
        }
    }
    s.resize(size);
    return s;
}

std::string FileBody(const std::string& boundary, const std::string& content) {
    return Part(boundary, FileDisposition("big", "big.bin") + "\r\nContent-Type: application/octet-stream", content) +
           boundary + "--\r\n";
}

// File content leaves the ring when the scan reaches the ring's end less the kept bytes (100, or
// the boundary line's length when longer), in 64 KiB blocks. Closing lines start anywhere around
// the first two of those points.
TEST(Multipart, LargeFilesAreWrittenByteForByteAroundEverySlice) {
    TempDir dir;
    std::mt19937 rnd(7);
    for (const std::string& boundary : {B, "--" + std::string(198, 'k') + "Zz"}) {
        const int keep = std::max<int>(100, static_cast<int>(boundary.size()));
        const int reach = MultipartRingSize - keep + 1;  // content offset scanned when the ring is full
        const std::string content = NearMisses(boundary, reach + 2 * 65536, rnd);
        std::vector<int> sizes = {0, 1, MultipartRingSize, 300000};
        for (int k = 0; k < 2; ++k)
            for (int s = k * 65536 + reach - keep - 10; s <= k * 65536 + reach + 10; ++s) sizes.push_back(s);
        for (int size : sizes) {
            std::string want = size <= static_cast<int>(content.size()) ? content.substr(0, size) : NearMisses(boundary, size, rnd);
            Decoded d = Decode(FileBody(boundary, want), dir.Path());
            ASSERT_EQ(d.Contents.size(), 1u) << size;
            ASSERT_EQ(d.Contents[0].size(), want.size()) << "boundary " << boundary.size() << " size " << size;
            ASSERT_TRUE(d.Contents[0] == want) << "boundary " << boundary.size() << " size " << size;
            ASSERT_EQ(d.Normal, "big_CONTENT_TYPE=+application/octet%2Dstream&big=big.bin&big_FILENAME=<upload 0>&");
        }
    }
}

// A small ring wraps and slices after a few hundred bytes, so every alignment of part headers,
// content and boundary against the ring's end is reached with small bodies.
TEST(Multipart, SmallRingGivesTheSameFilesForEveryBoundaryLengthAndSize) {
    TempDir dir;
    std::mt19937 rnd(11);
    const std::vector<std::string> boundaries = {"--a", "--xyz", "--Q7a9b", "--Bnd4xy", B, "--" + std::string(97, 'w') + "e",
                                                 "--" + std::string(250, 'p') + "oq"};
    for (const std::string& boundary : boundaries) {
        for (int size = 0; size < 2600; ++size) {
            std::string content = boundary.size() < 6 ? std::string(static_cast<size_t>(size), '.') : NearMisses(boundary, size, rnd);
            std::string body = Part(boundary, Disposition("before"), "1") + FileBody(boundary, content);
            Decoded d = Decode(body, dir.Path(), 1024);
            ASSERT_EQ(d.Contents.size(), 1u) << boundary.size() << "/" << size;
            ASSERT_TRUE(d.Contents[0] == content) << "boundary " << boundary.size() << " size " << size;
            ASSERT_EQ(d.Normal, "before=1&big_CONTENT_TYPE=+application/octet%2Dstream&big=big.bin&big_FILENAME=<upload 0>&");
        }
    }
}

// A value must fit in the ring with its boundary; a longer one is never cut: the form is refused
// whole, so that no post goes on with a field missing.
TEST(Multipart, ValuesAreKeptWholeOrTheFormIsRefused) {
    TempDir dir;
    std::mt19937 rnd(3);
    int kept = 0, dropped = 0;
    for (int size = 0; size < 3000; size += 13) {
        std::string value = NearMisses(B, static_cast<size_t>(size), rnd);
        for (char& c : value) c = c == 0 ? 'x' : c;  // a zero byte would end the value
        Decoded d = Decode(Part(B, Disposition("v"), value) + Part(B, Disposition("after"), "2") + B + "--\r\n", dir.Path(), 1024);
        const std::string got = FindFormValue("v", d.Data, "<none>");
        if (got == "<none>") {
            ++dropped;
            EXPECT_GT(size, 600);
            EXPECT_EQ(d.Data, "") << size;
            EXPECT_EQ(d.Outcome, TMultipartOutcome::TextTooLong) << size;
        } else {
            EXPECT_EQ(FindFormValue("after", d.Data, "-"), "2") << size;
            ++kept;
            EXPECT_EQ(got, value) << size;
            EXPECT_LT(size, 1024);
        }
    }
    EXPECT_GT(kept, 0);
    EXPECT_GT(dropped, 0);
}

}  // namespace
}  // namespace velmora::test
