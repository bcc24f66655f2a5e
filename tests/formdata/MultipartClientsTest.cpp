// Bodies captured from real clients (curl -F, headless Chromium; tools/capture-multipart.py):
// decoded whole and cut into two reads at every offset, they give the same form data and files.
#include <gtest/gtest.h>

#include <climits>

#include "DecodeHelper.h"
#include "TempDir.h"

namespace velmora::test {
namespace {

const std::string kData = VELMORA_TEST_DATA "/multipart/";

const std::string kTextFields =
    "name=Mara+Velasco&message=Line+one%0D%0ALine+two%2C+with+%3D+and+%26+and+100%25+";

struct Capture {
    std::string Name;
    std::string WantData;
    std::vector<std::string> FileFields;  // the fields whose files were uploaded, in body order
    size_t SplitStep;                     // 1: every offset
};

const std::vector<Capture> kCaptures = {
    {"chromium-form",
     kTextFields + "%26+%22quotes%22&empty=&greeting=Gr%C3%BC%C3%9Fe+aus+K%C3%B6ln&upload_CONTENT_TYPE=+text/plain&"
                   "upload=note.txt&upload_FILENAME=<upload 0>&nofile_CONTENT_TYPE=+application/octet%2Dstream&"
                   "nofile=&picture_CONTENT_TYPE=+image/gif&picture=pic.gif&picture_FILENAME=<upload 1>&",
     {"upload", "picture"}, 1},
    {"curl-form",
     kTextFields + "%22quotes%22&empty=&upload_CONTENT_TYPE=+text/plain&upload=note.txt&upload_FILENAME=<upload 0>&"
                   "picture_CONTENT_TYPE=+image/gif&picture=pic.gif&picture_FILENAME=<upload 1>&"
                   "emptyfile_CONTENT_TYPE=+application/octet%2Dstream&emptyfile=empty.dat&"
                   "emptyfile_FILENAME=<upload 2>&",
     {"upload", "picture", "emptyfile"}, 1},
    // 150 KB of file content: larger than the ring, cut at every 997th offset.
    {"chromium-large",
     kTextFields + "%26+%22quotes%22&empty=&greeting=Gr%C3%BC%C3%9Fe+aus+K%C3%B6ln&"
                   "upload_CONTENT_TYPE=+application/octet%2Dstream&upload=data.bin&upload_FILENAME=<upload 0>&"
                   "nofile_CONTENT_TYPE=+application/octet%2Dstream&nofile=&"
                   "picture_CONTENT_TYPE=+application/octet%2Dstream&picture=&",
     {"upload"}, 997},
};

void ExpectSame(const Decoded& d, const Decoded& want, const std::string& what) {
    EXPECT_EQ(d.Normal, want.Normal) << what;
    EXPECT_TRUE(d.Contents == want.Contents) << what;
}

TEST(MultipartClients, CapturedBodiesDecodeWholeAndInTwoReadsAtEveryOffset) {
    TempDir dir;
    for (const Capture& c : kCaptures) {
        const std::string body = ReadBytes(kData + c.Name + ".body");
        ASSERT_FALSE(body.empty()) << c.Name;
        const Decoded whole = Decode(body, dir.Path());
        EXPECT_EQ(whole.Normal, c.WantData) << c.Name;
        ASSERT_EQ(whole.Contents.size(), c.FileFields.size()) << c.Name;
        for (size_t i = 0; i < c.FileFields.size(); ++i)
            EXPECT_TRUE(whole.Contents[i] == ReadBytes(kData + c.Name + ".files/" + c.FileFields[i])) << c.Name << " " << i;

        for (int ring : {MultipartRingSize, 1024}) {
            for (size_t cut = 1; cut < body.size(); cut += c.SplitStep) {
                FakeClientBody fake(body);
                fake.Chunks = {static_cast<int>(cut), INT_MAX};
                ExpectSame(Decode(fake, dir.Path(), ring), whole,
                           c.Name + " ring " + std::to_string(ring) + " cut " + std::to_string(cut));
                if (HasFailure()) return;
            }
        }
    }
}

}  // namespace
}  // namespace velmora::test
