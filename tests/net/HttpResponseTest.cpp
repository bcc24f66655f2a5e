// The HTTP answer reader: every way a server may frame a body, the framings it must refuse, and
// the same answer cut at every byte giving the same result.
#include <gtest/gtest.h>

#include "HttpResponse.h"

using namespace velmora;

namespace {

struct Read {
    bool done, failed;
    int status;
    std::string body;
};

Read ReadAll(const std::string& bytes, bool close, size_t cut = std::string::npos) {
    THttpResponseReader r(100);
    if (cut == std::string::npos) {
        r.Feed(bytes);
    } else {
        r.Feed(std::string_view(bytes).substr(0, cut));
        r.Feed(std::string_view(bytes).substr(cut));
    }
    if (close) r.End();
    return {r.Done(), r.Failed(), r.Status(), r.Body()};
}

}  // namespace

TEST(HttpResponse, FramesAndRefusals) {
    struct Case {
        const char* what;
        std::string bytes;
        bool close;
        bool done;
        int status;
        std::string body;
    } cases[] = {
        {"length", "HTTP/1.1 200 OK\r\nContent-Length: 4\r\n\r\nabcdEXTRA", false, true, 200, "abcd"},
        {"length short at close", "HTTP/1.1 200 OK\r\nContent-Length: 5\r\n\r\nabcd", true, false, 200, "abcd"},
        {"chunked", "HTTP/1.1 200 OK\r\nTransfer-Encoding: Chunked\r\n\r\n3;x=1\r\nabc\r\nA\r\n0123456789\r\n0\r\nX: y\r\n\r\n", false,
         true, 200, "abc0123456789"},
        {"chunked without its end", "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n3\r\nabc\r\n", true, false, 200, "abc"},
        {"until close", "HTTP/1.0 503 Busy\r\nServer: x\r\n\r\nlater", true, true, 503, "later"},
        {"interim answer first", "HTTP/1.1 100 Continue\r\n\r\nHTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nok", false, true, 200, "ok"},
        {"no reason phrase", "HTTP/1.1 204\r\nContent-Length: 0\r\n\r\n", false, true, 204, ""},
        {"not HTTP", "SSH-2.0-OpenSSH\r\n\r\n", true, false, 0, ""},
        {"HTTP/2 text", "HTTP/2 200 OK\r\n\r\n", true, false, 0, ""},
        {"status of two digits", "HTTP/1.1 20 OK\r\n\r\n", true, false, 0, ""},
        {"length and chunked", "HTTP/1.1 200 OK\r\nContent-Length: 3\r\nTransfer-Encoding: chunked\r\n\r\n3\r\nabc\r\n0\r\n\r\n",
         false, false, 200, ""},
        {"two lengths", "HTTP/1.1 200 OK\r\nContent-Length: 3\r\nContent-Length: 4\r\n\r\nabcd", false, false, 200, ""},
        {"signed length", "HTTP/1.1 200 OK\r\nContent-Length: +3\r\n\r\nabc", false, false, 200, ""},
        {"length above the limit", "HTTP/1.1 200 OK\r\nContent-Length: 101\r\n\r\n", false, false, 200, ""},
        {"huge length", "HTTP/1.1 200 OK\r\nContent-Length: 99999999999999999999999\r\n\r\n", false, false, 200, ""},
        {"gzip coding", "HTTP/1.1 200 OK\r\nTransfer-Encoding: gzip, chunked\r\n\r\n", false, false, 200, ""},
        {"chunks above the limit", "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n40\r\n" + std::string(64, 'a') +
         "\r\n40\r\n" + std::string(64, 'a') + "\r\n0\r\n\r\n", false, false, 200, ""},
        {"huge chunk size", "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\nFFFFFFFFFFFFFFFFFFFF\r\n", false, false, 200, ""},
        {"chunk without CR LF", "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n1\r\nab\r\n0\r\n\r\n", false, false, 200, ""},
        {"body above the limit at close", "HTTP/1.1 200 OK\r\n\r\n" + std::string(101, 'a'), true, false, 200, ""},
        {"header without colon", "HTTP/1.1 200 OK\r\nbroken\r\n\r\n", true, false, 200, ""},
    };
    for (const Case& c : cases) {
        for (size_t cut = 0; cut <= c.bytes.size(); ++cut) {
            Read r = ReadAll(c.bytes, c.close, cut);
            ASSERT_EQ(r.done, c.done) << c.what << " cut at " << cut;
            EXPECT_NE(r.done, r.failed) << c.what;
            if (c.done) {
                EXPECT_EQ(r.status, c.status) << c.what;
                EXPECT_EQ(r.body, c.body) << c.what << " cut at " << cut;
            }
        }
    }
    // A head that never ends is refused once it passes its limit, not kept growing.
    THttpResponseReader endless;
    endless.Feed("HTTP/1.1 200 OK\r\n");
    for (int i = 0; i < 2000 && !endless.Failed(); ++i) endless.Feed("X-Filler: 0123456789\r\n");
    EXPECT_TRUE(endless.Failed());
}
