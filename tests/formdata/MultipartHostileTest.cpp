// Tests of the multipart decoder on hostile and broken bodies: client file names that try to leave
// TempDir, bodies that end early or fail, malformed boundary and header lines, arbitrary bytes.
#include <gtest/gtest.h>

#include <climits>
#include <filesystem>
#include <random>
#include <regex>

#include "DecodeHelper.h"
#include "TempDir.h"

namespace velmora::test {
namespace {

namespace fs = std::filesystem;
const std::string B = "------HostileBnd93";

// Every entry of dir's parent other than dir itself; the decoder must create nothing there.
std::vector<std::string> Strays(const TempDir& parent, const std::string& dir) {
    std::vector<std::string> out;
    for (const auto& e : fs::directory_iterator(parent.Path()))
        if (e.path() != fs::path(dir)) out.push_back(e.path().string());
    return out;
}

TEST(MultipartHostile, ClientFileNamesNeverLeaveTempDir) {
    TempDir parent;
    const std::string dir = parent / "up";
    fs::create_directory(dir);
    struct Name { std::string Client, Stem; };
    const std::vector<Name> names = {
        {"../../x.txt", "x"}, {"a/b.txt", "b"}, {"C:\\docs\\note.txt", "note"}, {"..\\..\\evil.exe", "evil"},
        {"/etc/passwd", "passwd"}, {"a:b:c.d", "c"}, {"..", ""}, {"...", ""}, {"C:\\docs\\", ""},
        {"x/..", ""}, {".hidden", ""}, {"%2E%2E%2Fy", "%2E%2E%2Fy"}, {std::string(240, 'y'), std::string(200, 'y')},
    };
    for (const Name& n : names) {
        FakeClientBody body(Part(B, FileDisposition("f", n.Client) + "\r\nContent-Type: text/plain", "data") + B + "--\r\n");
        Decoded d = Decode(body, dir);
        ASSERT_EQ(d.Paths.size(), 1u) << n.Client;
        const fs::path p(d.Paths[0]);
        EXPECT_EQ(fs::path(p).parent_path(), fs::path(dir)) << n.Client;
        EXPECT_TRUE(std::regex_match(p.filename().string(), std::regex("[0-9]{1,7}" + n.Stem + "\\.tmp")))
            << n.Client << " -> " << p;
        EXPECT_TRUE(d.Existed[0]) << n.Client;
        EXPECT_EQ(d.Contents[0], "data");
        EXPECT_EQ(FindFormValue("f", d.Data, "-"), n.Client);  // the field keeps what the client sent
        EXPECT_EQ(Strays(parent, dir), std::vector<std::string>{}) << n.Client;
    }
}

// Cut at every offset with the announced length unchanged: the reader gives 0 from the cut on.
// What was decoded is always a prefix of the whole body's form data, an unfinished file holds a
// prefix of its content (plus the line end and boundary bytes that arrived), and the reader is
// asked at most once after the body ran dry.
TEST(MultipartHostile, BodyShorterThanAnnouncedEndsTheDecoding) {
    TempDir dir;
    const std::string full = Part(B, Disposition("a"), "first") +
                             Part(B, FileDisposition("f", "f.bin") + "\r\nContent-Type: text/plain", "file\r\ncontent") +
                             Part(B, Disposition("b"), "second") + B + "--\r\n";
    const Decoded whole = Decode(full, dir.Path());
    ASSERT_EQ(whole.Normal, "a=first&f_CONTENT_TYPE=+text/plain&f=f.bin&f_FILENAME=<upload 0>&b=second&");
    for (size_t cut = 0; cut < full.size(); ++cut) {
        FakeClientBody body(full.substr(0, cut));
        body.ContentLength = std::to_string(full.size());
        Decoded d = Decode(body, dir.Path());
        EXPECT_EQ(whole.Normal.compare(0, d.Normal.size(), d.Normal), 0) << cut << ": " << d.Normal;
        EXPECT_EQ(body.ZeroReads, 1) << cut;
        if (!d.Contents.empty()) {
            const std::string arrived = "file\r\ncontent\r\n" + B;
            EXPECT_EQ(arrived.compare(0, d.Contents[0].size(), d.Contents[0]), 0) << cut;
        }
    }
    // Hand-picked cuts and what each keeps.
    struct Cut { std::string At; std::string Want; std::string File; };
    for (const Cut& c : std::vector<Cut>{{"firs", "", ""},
                                          {"Content-Type: te", "a=first&", ""},
                                          {"file\r\ncon", "a=first&f_CONTENT_TYPE=+text/plain&f=f.bin&f_FILENAME=<upload 0>&", "file\r\ncon"},
                                          {"secon", "a=first&f_CONTENT_TYPE=+text/plain&f=f.bin&f_FILENAME=<upload 0>&", "file\r\ncontent"}}) {
        FakeClientBody body(full.substr(0, full.find(c.At) + c.At.size()));
        body.ContentLength = std::to_string(full.size());
        Decoded d = Decode(body, dir.Path());
        EXPECT_EQ(d.Normal, c.Want) << c.At;
        EXPECT_EQ(d.Contents.empty() ? "" : d.Contents[0], c.File) << c.At;
    }
}

TEST(MultipartHostile, ReaderGivingNothingEndsAtOnce) {
    TempDir dir;
    FakeClientBody body("");
    body.ContentLength = "1000000";
    Decoded d = Decode(body, dir.Path(), MultipartRingSize, "kept=1&");
    EXPECT_EQ(d.Data, "kept=1&");
    EXPECT_EQ(body.Reads, 1);
}

TEST(MultipartHostile, FailedReadEmptiesTheFormDataAndKeepsTheUploadList) {
    TempDir dir;
    const std::string full = Part(B, Disposition("a"), "1") + Part(B, FileDisposition("f", "x.txt"), std::string(5000, 'z')) +
                             Part(B, FileDisposition("g", "y.txt"), "yy") + B + "--\r\n";
    for (long failAt = 0; failAt <= static_cast<long>(full.size()); failAt += 97) {
        FakeClientBody body(full);
        body.FailAt = failAt;
        body.Chunks = {61};
        Decoded d = Decode(body, dir.Path(), 1024, "query=1&");
        EXPECT_EQ(d.Data, "") << failAt;
        for (size_t i = 0; i < d.Paths.size(); ++i) EXPECT_TRUE(d.Existed[i]) << failAt;
    }
}

TEST(MultipartHostile, MissingClosingBoundaryKeepsWhatArrived) {
    TempDir dir;
    Decoded file = Decode(Part(B, Disposition("a"), "1") + Part(B, FileDisposition("f", "x.txt"), "hello"), dir.Path());
    EXPECT_EQ(file.Normal, "a=1&f=x.txt&f_FILENAME=<upload 0>&");
    EXPECT_EQ(file.Contents, std::vector<std::string>{"hello\r\n"});
    Decoded value = Decode(Part(B, Disposition("a"), "1") + Part(B, Disposition("b"), "unfinished"), dir.Path());
    EXPECT_EQ(value.Normal, "a=1&");
}

TEST(MultipartHostile, BoundaryLinesTooShortAreNotDecodedButRead) {
    TempDir dir;
    for (const std::string& first : {std::string("--"), std::string("-"), std::string(""), std::string("\x01\x02")}) {
        const std::string full = Part(first, Disposition("a"), "1") + first + "--\r\n";
        FakeClientBody body(full);
        body.Chunks = {3};
        Decoded d = Decode(body, dir.Path(), MultipartRingSize, "kept=1&");
        EXPECT_EQ(d.Data, "kept=1&") << first;
        EXPECT_TRUE(d.Paths.empty());
        EXPECT_EQ(body.Position, full.size()) << first;
    }
    // Three to five bytes still carry a boundary: the whole line is compared.
    Decoded d = Decode(Part("--q", Disposition("a"), "x-q") + Part("--q", Disposition("b"), "2") + "--q--\r\n", dir.Path());
    EXPECT_EQ(d.Normal, "a=x%2Dq&b=2&");
}

TEST(MultipartHostile, OverlongHeaderLinesAreCutNotFatal) {
    TempDir dir;
    const std::string pad = "X-Padding: " + std::string(100000, 'p');
    Decoded padded = Decode(Part(B, pad + "\r\n" + Disposition("a"), "1") + B + "--\r\n", dir.Path());
    EXPECT_EQ(padded.Normal, "a=1&");
    // The name lies beyond the first 2047 bytes of its line: not seen, the part is skipped.
    Decoded late = Decode(Part(B, "Content-Disposition: form-data; " + std::string(3000, ' ') + "name=\"a\"", "1") +
                              Part(B, Disposition("b"), "2") + B + "--\r\n",
                          dir.Path());
    EXPECT_EQ(late.Normal, "b=2&");
    // A file name whose closing quote lies beyond them: still a file, its name shortened; the
    // content never becomes a value.
    Decoded longName = Decode(Part(B, FileDisposition("f", std::string(3000, 'n')), "v") + B + "--\r\n", dir.Path());
    EXPECT_EQ(longName.Normal, "f=" + std::string(255, 'n') + "&f_FILENAME=<upload 0>&");
    EXPECT_EQ(longName.Paths.size(), 1u);
}

TEST(MultipartHostile, ValuePartLargerThanTheRingRefusesTheForm) {
    TempDir dir;
    Decoded d = Decode(Part(B, Disposition("a"), "1") +
                           Part(B, Disposition("big") + "\r\nContent-Type: text/plain", std::string(200000, 'v')) +
                           Part(B, Disposition("c"), "3") + B + "--\r\n",
                       dir.Path());
    EXPECT_EQ(d.Normal, "");
    EXPECT_EQ(d.Outcome, TMultipartOutcome::TextTooLong);
}

TEST(MultipartHostile, ContentLengthDecidesHowMuchIsRead) {
    TempDir dir;
    const std::string full = Part(B, Disposition("a"), "1") + B + "--\r\n";
    for (const std::string& length : {std::string(""), std::string("abc"), std::string("-5"), std::string("0"),
                                      std::string("99999999999999")}) {
        FakeClientBody body(full);
        body.ContentLength = length;
        Decoded d = Decode(body, dir.Path());
        EXPECT_EQ(d.Data, "") << length;
        EXPECT_EQ(body.Reads, 0) << length;
    }
    FakeClientBody shorter(full);
    shorter.ContentLength = " 20 ";
    Decode(shorter, dir.Path());
    EXPECT_EQ(shorter.Position, 20u);
}

// Bodies assembled from the pieces a multipart body is made of, in random order and amounts, fed
// in random chunk sizes through both ring sizes: the decoding always ends, every upload file
// it makes lies in TempDir and is listed, and nothing else is created.
TEST(MultipartHostile, RandomBodiesEndAndStayInTempDir) {
    TempDir parent;
    const std::string dir = parent / "up";
    fs::create_directory(dir);
    std::mt19937 rnd(2024);
    const std::vector<std::string> pieces = {B, "\r\n", "\n", "--", Disposition("n"), FileDisposition("f", "../a.b"),
                                             "Content-Type: x", "\r\n\r\n", "\"", "name=\"", "filename=\"", std::string(1, '\0')};
    for (int round = 0; round < 600; ++round) {
        std::string body = B + "\r\n";
        const int count = static_cast<int>(rnd() % 60);
        for (int i = 0; i < count; ++i) {
            if (rnd() % 4 == 0) body += std::string(rnd() % 3000, static_cast<char>(rnd()));
            else body += pieces[rnd() % pieces.size()];
        }
        FakeClientBody fake(body);
        fake.Chunks = {static_cast<int>(1 + rnd() % 700), static_cast<int>(1 + rnd() % 70000)};
        if (rnd() % 3 == 0) fake.ContentLength = std::to_string(body.size() + rnd() % 100);
        Decoded d = Decode(fake, dir, rnd() % 2 ? 1024 : MultipartRingSize);
        for (size_t i = 0; i < d.Paths.size(); ++i) {
            EXPECT_EQ(fs::path(d.Paths[i]).parent_path(), fs::path(dir));
            EXPECT_TRUE(d.Existed[i]);
        }
        EXPECT_TRUE(fs::is_empty(dir)) << round;
        ASSERT_EQ(Strays(parent, dir), std::vector<std::string>{}) << round;
    }
}

}  // namespace
}  // namespace velmora::test
