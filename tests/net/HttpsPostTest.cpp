// HttpsPost against a real local HTTPS server: the form arrives, the answer is read whole in
// either framing, and a certificate of an unknown authority, a silent server and a bad address
// give an error instead of an answer.
#include <gtest/gtest.h>

#include "HttpsPost.h"
#include "System.h"
#include "VerifyStub.h"

using namespace velmora;
using namespace velmora::test;

TEST(HttpsPost, PostsTheFormAndReadsTheAnswer) {
    VerifyStub stub("k");
    TTlsSettings trusted{.CaFile = stub.CaFile()};
    struct Case {
        std::string url;
        TTlsSettings tls;
        int timeoutMs;
        bool answered;
        std::string body;  // the answer, or a part of the error
    } cases[] = {
        {stub.Url("turnstile", "success"), trusted, 5000, true, R"({"success": true, "error-codes": [], "hostname": "localhost"})"},
        {stub.Url("hcaptcha", "failure"), trusted, 5000, true, R"({"success": false, "error-codes": ["invalid-input-response"]})"},
        {stub.Url("hcaptcha", "success", "localhost"), trusted, 5000, true, R"({"success": true, "error-codes": [], "hostname": "localhost"})"},
        {stub.Url("hcaptcha", "success"), TTlsSettings{}, 5000, false, "certificate not accepted"},
        {stub.Url("hcaptcha", "silence"), trusted, 700, false, "in time"},
        {"https://127.0.0.1:" + std::to_string(UnusedPort()) + "/", trusted, 5000, false, "no connection"},
        {"http://127.0.0.1/", trusted, 5000, false, "not an https:// address"},
        {"https://127.0.0.1:99999/", trusted, 5000, false, "not an https:// address"},
        {"https://127.0.0.1/a b", trusted, 5000, false, "not an https:// address"},
        {"https://user@127.0.0.1/", trusted, 5000, false, "not an https:// address"},
    };
    for (const Case& c : cases) {
        uint64_t start = TickCount();
        THttpsAnswer a = HttpsPost(c.url, "secret=k&response=a%2Bb", c.tls, c.timeoutMs);
        EXPECT_LE(TickCount() - start, static_cast<uint64_t>(c.timeoutMs) + 1000) << c.url;
        EXPECT_EQ(a.Answered, c.answered) << c.url << ": " << a.Error;
        if (c.answered) {
            EXPECT_EQ(a.Status, 200) << c.url;
            EXPECT_EQ(a.Body, c.body) << c.url;
        } else {
            EXPECT_NE(a.Error.find(c.body), std::string::npos) << c.url << ": " << a.Error;
        }
    }
    EXPECT_NE(stub.Requests().find(R"("form": {"secret": "k", "response": "a+b"})"), std::string::npos) << stub.Requests();
}
