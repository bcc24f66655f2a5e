// The FastCGI engine inside the test process, fed records over a socket pair: the shared request
// table, and peers that send garbage, oversized or broken requests, each costing one request only.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <functional>
#include <thread>
#include <vector>

#include "FastCgiEng.h"
#include "FastCgiRecords.h"
#include "RequestTable.h"
#include "TempDir.h"

using namespace velmora;
using namespace velmora::test;

namespace {

class FastCgiEngine : public ::testing::Test {
protected:
    void SetUp() override {
        ::setenv("CGI_LOG_DIR", Temp.Path().c_str(), 1);
        Owner = std::make_unique<TComponent>();
        // Not a FastCGI start: the constructor only stores; connections are handed over below.
        Engine = new TFastCGIEngine(Owner.get(), 1, false, false, Temp.Path(), "S", 10000, true, "text/html", true,
                                    nullptr, nullptr, [this](TObject* s) { ++Runs; if (OnExec) OnExec(s); }, nullptr);
    }
    void TearDown() override { RequestState().CurrentEngine = nullptr; }

    // Serves one connection: writes each input once the answers to the ones before have ended
    // (as a web server that keeps the connection does), then ends the input; returns all the
    // engine sent before it closed the connection.
    std::string Exchange(const std::vector<std::string>& inputs) {
        int fds[2];
        EXPECT_EQ(::socketpair(AF_UNIX, SOCK_STREAM, 0, fds), 0);
        timeval tv{5, 0};
        ::setsockopt(fds[0], SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
        ::setsockopt(fds[1], SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
        std::thread server([&] { Engine->ServeConnection(fds[1]); });
        std::string out;
        char buf[65536];
        for (size_t i = 0; i < inputs.size(); ++i) {
            while (ParseFcgiAnswer(out).Ends < static_cast<int>(i)) {
                ssize_t n = ::read(fds[0], buf, sizeof buf);
                if (n <= 0) break;
                out.append(buf, static_cast<size_t>(n));
            }
            EXPECT_EQ(::write(fds[0], inputs[i].data(), inputs[i].size()), static_cast<ssize_t>(inputs[i].size()));
        }
        ::shutdown(fds[0], SHUT_WR);
        for (ssize_t n; (n = ::read(fds[0], buf, sizeof buf)) > 0;) out.append(buf, static_cast<size_t>(n));
        server.join();
        ::close(fds[0]);
        return out;
    }
    std::string Exchange(const std::string& input) { return Exchange(std::vector<std::string>{input}); }

    static std::vector<std::pair<std::string, std::string>> Params(const std::string& method, const std::string& body,
                                                                   const std::string& type = "application/x-www-form-urlencoded",
                                                                   const std::string& query = "") {
        return {{"REQUEST_METHOD", method}, {"QUERY_STRING", query}, {"CONTENT_TYPE", type},
                {"CONTENT_LENGTH", std::to_string(body.size())}, {"SERVER_SOFTWARE", "nginx/1.22.1"}};
    }

    TempDir Temp;
    std::unique_ptr<TComponent> Owner;
    TFastCGIEngine* Engine = nullptr;
    std::atomic<int> Runs{0};
    std::function<void(TObject*)> OnExec;
};

}  // namespace

TEST_F(FastCgiEngine, AnswersEveryRowOfTheRequestTable) {
    for (const TTableRequest& r : RequestTable()) {
        const std::string body = r.Upload.empty() ? UrlEncodedBody(r) : MultipartBody(r, "b0undary42");
        TTableAnswer answer;
        OnExec = [&](TObject* s) { answer = AskEngine(*static_cast<THttpEngine*>(s), r); };
        auto params = Params(r.Method, body, r.Upload.empty() ? "application/x-www-form-urlencoded" : "multipart/form-data; boundary=b0undary42", r.Query);
        FcgiAnswer a = ParseFcgiAnswer(Exchange(FcgiRequest(params, body)));
        ExpectTableAnswer(r, answer);
        EXPECT_EQ(a.Ends, 1) << r.Name;
        // A CGI answer: the default header, no status line of its own.
        EXPECT_EQ(a.Out, "content-type:text/html\r\n\r\n") << r.Name;
    }
}

// Two requests on a kept connection are both answered, each with the fields of its own body.
// (Hostile peers: FastCgiHostilePeersTest.cpp.)
TEST_F(FastCgiEngine, KeptConnectionServesRequestAfterRequest) {
    std::string seen;
    OnExec = [&](TObject* s) { seen += static_cast<THttpEngine*>(s)->GetFormField("a", "(none)") + "|"; };
    FcgiAnswer kept = ParseFcgiAnswer(Exchange({FcgiRequest(Params("POST", "a=123"), "a=123", 1, true),
                                                FcgiRequest(Params("POST", "a=4567"), "a=4567", 2, true)}));
    EXPECT_EQ(kept.Ends, 2);
    EXPECT_EQ(Runs, 2);
    EXPECT_EQ(seen, "123|4567|");
}
