// The FastCGI server of the engine inside the test process, with short limits, fed by hostile
// peers: after each, the server lives and answers a normal post within a second. Every case runs
// twice: over socket pairs handed to the loop, and through a listener whose connections the
// workers take themselves (and pass to the loop when a request does not come whole at once).
#include <gtest/gtest.h>
#include <poll.h>
#include <dirent.h>
#include <fcntl.h>
#include <sys/resource.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <fstream>
#include <functional>
#include <thread>
#include <vector>

#include "EnvPaths.h"
#include "FastCgiEng.h"
#include "FastCgiRecords.h"
#include "FcgiServer.h"
#include "Listener.h"
#include "TempDir.h"

using namespace velmora;
using namespace velmora::test;
using Clock = std::chrono::steady_clock;

namespace {

std::string Begin(uint16_t id, bool keep = false, uint8_t role = 1) {
    return FcgiRecord(kFcgiBegin, id, {'\0', static_cast<char>(role), static_cast<char>(keep ? 1 : 0), 0, 0, 0, 0, 0});
}

std::string Pairs(const std::vector<std::pair<std::string, std::string>>& pairs) {
    std::string out;
    for (const auto& [n, v] : pairs) out += FcgiLength(static_cast<uint32_t>(n.size())) + FcgiLength(static_cast<uint32_t>(v.size())) + n + v;
    return out;
}

std::vector<std::pair<std::string, std::string>> Post(const std::string& length) {
    return {{"REQUEST_METHOD", "POST"}, {"CONTENT_TYPE", "application/x-www-form-urlencoded"}, {"CONTENT_LENGTH", length}};
}

// The head of a post of announced length, without its body records.
std::string Head(uint16_t id, const std::string& length, bool keep = false) {
    return Begin(id, keep) + FcgiRecord(kFcgiParams, id, Pairs(Post(length))) + FcgiRecord(kFcgiParams, id, "");
}

std::string GetValues(const std::vector<std::string>& names) {
    std::vector<std::pair<std::string, std::string>> pairs;
    for (const std::string& n : names) pairs.emplace_back(n, "");
    return FcgiRecord(kFcgiGetValues, 0, Pairs(pairs));
}

int Count(const std::vector<FcgiRec>& recs, uint8_t type, uint16_t id = 0xffff) {
    int n = 0;
    for (const FcgiRec& r : recs) n += r.Type == type && (id == 0xffff || r.Id == id);
    return n;
}

// The protocol status of the END_REQUEST of request id, or -1 when none came.
int EndStatus(const std::vector<FcgiRec>& recs, uint16_t id) {
    for (const FcgiRec& r : recs)
        if (r.Type == kFcgiEnd && r.Id == id && r.Content.size() == 8) return static_cast<uint8_t>(r.Content[4]);
    return -1;
}

class HostilePeers : public ::testing::TestWithParam<bool> {
public:
    void SetUp() override {
        ::setenv("CGI_LOG_DIR", Temp.Path().c_str(), 1);
        Owner = std::make_unique<TComponent>();
        TFastCGILimits limits;
        limits.MaxConnections = 8;
        limits.RequestSeconds = 1;
        limits.IdleSeconds = 1;
        limits.BodyMemory = 24000;
        Engine = new TFastCGIEngine(Owner.get(), 2, false, false, Temp.Path(), "S", 10000, true, "text/html", true, nullptr,
                                    nullptr, [this](TObject* s) { Handle(static_cast<THttpEngine*>(s)); }, nullptr, limits);
        Server = Engine->NewServer();
        if (GetParam()) {
            std::string error;
            Listener = TListener::Open(Temp.Path() + "/fcgi.sock", error);
            ASSERT_TRUE(Listener) << error;
        }
        Loop = std::thread([this] { Server->Run(Listener.get(), false, false); });
    }
    void TearDown() override {
        for (int fd : Fds) ::close(fd);
        Server->Stop();
        Loop.join();
        Server.reset();
        Listener.reset();
        RequestState().CurrentEngine = nullptr;
    }
    void Handle(THttpEngine* e) {
        ++Runs;
        if (DelayMs > 0) std::this_thread::sleep_for(std::chrono::milliseconds(DelayMs.load()));
        e->Write("<p>ok:" + e->GetFormField("a", "(none)"));
    }

    // The test's end of a new connection the server serves.
    int Connect() {
        if (Listener) return Dial(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
        int fds[2];
        EXPECT_EQ(::socketpair(AF_UNIX, SOCK_STREAM, 0, fds), 0);
        Fds.push_back(fds[0]);
        Server->AddConnection(fds[1]);
        return fds[0];
    }
    // Connects a socket made before to the listener.
    int Dial(int fd) {
        sockaddr_un a{};
        a.sun_family = AF_UNIX;
        const std::string path = Temp.Path() + "/fcgi.sock";
        path.copy(a.sun_path, sizeof a.sun_path - 1);
        EXPECT_EQ(::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a), 0) << path;
        Fds.push_back(fd);
        return fd;
    }
    static void Send(int fd, const std::string& bytes) {
        // A connection the server closed fails the assertion rather than the test process.
        ASSERT_EQ(::send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL), static_cast<ssize_t>(bytes.size()));
    }
    // What the server sends until it closes the connection or ms pass; closed tells which.
    static std::string Read(int fd, int ms, bool* closed = nullptr) {
        std::string out;
        const auto end = Clock::now() + std::chrono::milliseconds(ms);
        if (closed) *closed = false;
        for (;;) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - Clock::now()).count();
            pollfd p{fd, POLLIN, 0};
            if (left <= 0 || ::poll(&p, 1, static_cast<int>(left)) <= 0) return out;
            char buf[65536];
            const ssize_t n = ::read(fd, buf, sizeof buf);
            if (n <= 0) {
                if (closed) *closed = true;
                return out;
            }
            out.append(buf, static_cast<size_t>(n));
        }
    }
    // Records read until request id has ended (or ms pass).
    static std::vector<FcgiRec> Answer(int fd, uint16_t id, int ms = 3000) {
        std::string bytes;
        const auto end = Clock::now() + std::chrono::milliseconds(ms);
        while (EndStatus(ParseFcgiRecords(bytes), id) < 0 && Clock::now() < end) {
            bool closed = false;
            bytes += Read(fd, 50, &closed);
            if (closed) break;
        }
        return ParseFcgiRecords(bytes);
    }
    static std::string Out(const std::vector<FcgiRec>& recs) {
        std::string out;
        for (const FcgiRec& r : recs)
            if (r.Type == kFcgiStdout) out += r.Content;
        return out;
    }
    // A normal post on a fresh connection is answered within a second.
    void ExpectServes(const std::string& after) {
        const auto start = Clock::now();
        const int fd = Connect();
        Send(fd, FcgiRequest(Post("3"), "a=7", 3));
        const std::string out = Out(Answer(fd, 3, 1000));
        EXPECT_NE(out.find("ok:7"), std::string::npos) << after << ": " << out;
        EXPECT_LT(Clock::now() - start, std::chrono::seconds(1)) << after;
    }

    TempDir Temp;
    std::unique_ptr<TComponent> Owner;
    TFastCGIEngine* Engine = nullptr;
    std::unique_ptr<fcgi::TServer> Server;
    std::unique_ptr<TListener> Listener;
    std::thread Loop;
    std::vector<int> Fds;
    std::atomic<int> Runs{0}, DelayMs{0};
};

struct HostileCase {
    const char* Name;
    std::function<void(HostilePeers&)> Act;  // the peer's doing, with the assertions of its own answer
};

}  // namespace

TEST_P(HostilePeers, NoPeerStopsTheServerOrHoldsItsThreads) {
    const std::string stdinA = FcgiRecord(kFcgiStdin, 1, "a=1");
    const HostileCase cases[] = {
        {"GET_VALUES with four FCGI_MAX_CONNS among a request's STDIN records",
         [&](HostilePeers& t) {
             const int fd = t.Connect();
             Send(fd, Head(1, "3") + GetValues({"FCGI_MAX_CONNS", "FCGI_MAX_CONNS", "FCGI_MAX_CONNS", "FCGI_MAX_CONNS"}) +
                          stdinA + FcgiRecord(kFcgiStdin, 1, ""));
             auto recs = Answer(fd, 1);
             EXPECT_NE(Out(recs).find("ok:1"), std::string::npos);
             ASSERT_EQ(Count(recs, kFcgiGetValuesResult, 0), 1);
             for (const FcgiRec& r : recs) {
                 if (r.Type == kFcgiGetValuesResult) {
                     EXPECT_EQ(r.Content, Pairs({{"FCGI_MAX_CONNS", "8"}}));
                 }
             }
         }},
        {"GET_VALUES on a connection of its own, one name unknown",
         [](HostilePeers& t) {
             const int fd = t.Connect();
             Send(fd, GetValues({"FCGI_MPXS_CONNS", "NO_SUCH_NAME", "FCGI_MAX_REQS", "FCGI_MAX_CONNS"}));
             auto recs = ParseFcgiRecords(Read(fd, 300));
             ASSERT_EQ(recs.size(), 1u);
             EXPECT_EQ(recs[0].Type, kFcgiGetValuesResult);
             EXPECT_EQ(recs[0].Content, Pairs({{"FCGI_MAX_CONNS", "8"}, {"FCGI_MAX_REQS", "8"}, {"FCGI_MPXS_CONNS", "0"}}));
         }},
        {"a management record of unknown type, and one empty",
         [](HostilePeers& t) {
             const int fd = t.Connect();
             Send(fd, FcgiRecord(42, 0, "xyz") + FcgiRecord(kFcgiGetValues, 0, ""));
             auto recs = ParseFcgiRecords(Read(fd, 300));
             ASSERT_EQ(recs.size(), 2u);
             EXPECT_EQ(recs[0].Type, kFcgiUnknownType);
             EXPECT_EQ(recs[0].Content, std::string("\x2a\0\0\0\0\0\0\0", 8));
             EXPECT_EQ(recs[1].Type, kFcgiGetValuesResult);
             EXPECT_EQ(recs[1].Content, "");
         }},
        {"a second BEGIN_REQUEST on a busy connection",
         [&](HostilePeers& t) {
             const int fd = t.Connect();
             Send(fd, Head(1, "3") + Begin(2) + stdinA + FcgiRecord(kFcgiStdin, 1, ""));
             auto recs = Answer(fd, 1);
             EXPECT_EQ(EndStatus(recs, 2), 1);  // FCGI_CANT_MPX_CONN
             EXPECT_EQ(EndStatus(recs, 1), 0);
             EXPECT_NE(Out(recs).find("ok:1"), std::string::npos);
         }},
        {"ABORT_REQUEST before the body is complete: ended, never run",
         [&](HostilePeers& t) {
             const int runs = t.Runs;
             const int fd = t.Connect();
             Send(fd, Head(1, "3") + FcgiRecord(kFcgiAbort, 1, ""));
             auto recs = Answer(fd, 1);
             EXPECT_EQ(EndStatus(recs, 1), 0);
             EXPECT_EQ(Out(recs), "");
             EXPECT_EQ(t.Runs, runs);
         }},
        {"ABORT_REQUEST while the worker runs: finished, its answer dropped",
         [&](HostilePeers& t) {
             const int runs = t.Runs;
             t.DelayMs = 300;
             const int fd = t.Connect();
             Send(fd, Head(1, "3") + stdinA + FcgiRecord(kFcgiStdin, 1, ""));
             std::this_thread::sleep_for(std::chrono::milliseconds(100));
             Send(fd, FcgiRecord(kFcgiAbort, 1, ""));
             auto recs = Answer(fd, 1);
             t.DelayMs = 0;
             EXPECT_EQ(EndStatus(recs, 1), 0);
             EXPECT_EQ(Out(recs), "");
             EXPECT_EQ(t.Runs, runs + 1);
         }},
        {"an authorizer: FCGI_UNKNOWN_ROLE, never run",
         [](HostilePeers& t) {
             const int runs = t.Runs;
             const int fd = t.Connect();
             Send(fd, FcgiRequest(Post("0"), "", 1, false, 2));
             auto recs = Answer(fd, 1);
             EXPECT_EQ(EndStatus(recs, 1), 3);
             EXPECT_EQ(Out(recs), "");
             EXPECT_EQ(t.Runs, runs);
         }},
        {"HTTP instead of records, version 2 records, parameters announced at 100 MB and with overflowing lengths",
         [](HostilePeers& t) {
             bool closed = false;
             for (const std::string& junk : {std::string("GET / HTTP/1.1\r\nHost: x\r\n\r\n"), std::string("\2\1\0\1\0\0\0\0", 8)}) {
                 const int fd = t.Connect();
                 Send(fd, junk);
                 EXPECT_EQ(Read(fd, 1000, &closed), "");
                 EXPECT_TRUE(closed);
             }
             for (uint32_t length : {100u << 20, 0x46c6c6c6u}) {
                 const int fd = t.Connect();
                 Send(fd, Begin(1) + FcgiRecord(kFcgiParams, 1, FcgiLength(length) + FcgiLength(length) + "HUGEabc") +
                              FcgiRecord(kFcgiParams, 1, "") + FcgiRecord(kFcgiStdin, 1, ""));
                 EXPECT_EQ(Out(Answer(fd, 1)).rfind("Status: 400", 0), 0u) << length;
             }
         }},
        {"a head above 128 KB",
         [](HostilePeers& t) {
             const int fd = t.Connect();
             std::string head = Begin(1);
             for (int i = 0; i < 3; ++i) head += FcgiRecord(kFcgiParams, 1, Pairs({{"X_" + std::to_string(i), std::string(60000, 'h')}}));
             Send(fd, head);
             EXPECT_EQ(Out(Answer(fd, 1)).rfind("Status: 400", 0), 0u);
         }},
        {"bodies past the server's budget of 24000 bytes, announced ones costing nothing",
         [](HostilePeers& t) {
             std::vector<int> fds;
             for (int i = 0; i < 5; ++i) {
                 fds.push_back(t.Connect());
                 Send(fds[i], Head(1, "9000") + (i < 2 ? "" : FcgiRecord(kFcgiStdin, 1, std::string(9000, 'b'))));
                 std::this_thread::sleep_for(std::chrono::milliseconds(30));
             }
             EXPECT_EQ(Read(fds[3], 50), "") << "the second whole body fits beside two announced ones";
             EXPECT_EQ(Out(Answer(fds[4], 1)).rfind("Status: 503", 0), 0u) << "the third does not";
         }},
    };
    for (const HostileCase& c : cases) {
        SCOPED_TRACE(c.Name);
        c.Act(*this);
        ExpectServes(c.Name);
    }
}

// Bodies that do not match their announced length, and lengths that are not lengths: a 400 answer
// and a log line (also on the error stream), never a run of the form.
TEST_P(HostilePeers, BadLengthsAreRefusedNeverRun) {
    const struct {
        const char* Name;
        std::string Length, Body;
        bool EndStdin;
        const char* Reason;
    } rows[] = {
        {"negative with a body", "-1", "a=1", true, "CONTENT_LENGTH \"-1\" is not a length"},
        {"not a number", "12abc", "a=1", true, "is not a length"},
        {"overflowing", "99999999999999999999", "a=1", true, "is not a length"},
        {"body longer", "3", "a=1234", true, "body longer than the 3 announced bytes"},
        {"body shorter", "100", "a=1&b=2", true, "body ended after 7 of 100 announced bytes"},
        {"peer ends its side within the body", "100", "a=1&b=2", false, "body ended after 7 of 100"},
    };
    for (const auto& r : rows) {
        const int runs = Runs;
        const int fd = Connect();
        std::string request = Head(1, r.Length) + FcgiRecord(kFcgiStdin, 1, r.Body);
        if (r.EndStdin) request += FcgiRecord(kFcgiStdin, 1, "");
        Send(fd, request);
        if (!r.EndStdin) ::shutdown(fd, SHUT_WR);
        auto recs = Answer(fd, 1);
        EXPECT_EQ(Out(recs).rfind("Status: 400", 0), 0u) << r.Name << ": " << Out(recs);
        std::string err;
        for (const FcgiRec& rec : recs)
            if (rec.Type == kFcgiStderr) err += rec.Content;
        EXPECT_NE(err.find(r.Reason), std::string::npos) << r.Name << ": " << err;
        EXPECT_EQ(Runs, runs) << r.Name;
    }
    ExpectServes("bad lengths");
}

// With two workers: silent connections, kept connections gone quiet, a body trickled in and a peer
// that never reads hold no thread; each is closed at its limit (1 s here), as is the longest idle
// connection once all eight are open.
TEST_P(HostilePeers, SlowAndSilentPeersHoldNoThread) {
    std::vector<int> silent;
    for (int i = 0; i < 3; ++i) silent.push_back(Connect());
    const int kept = Connect();
    Send(kept, FcgiRequest(Post("3"), "a=5", 1, true));
    EXPECT_NE(Out(Answer(kept, 1)).find("ok:5"), std::string::npos);
    const int trickle = Connect();
    Send(trickle, Head(1, "100") + FcgiRecord(kFcgiStdin, 1, "a"));
    // Asks for more answers than the socket holds, then breaks the stream: nothing more is read
    // from it, and only the write deadline ends it.
    const int deaf = Connect();
    std::string flood;
    for (int i = 0; i < 8000; ++i) flood += GetValues({"FCGI_MAX_CONNS", "FCGI_MAX_REQS", "FCGI_MPXS_CONNS"});
    Send(deaf, flood + std::string("\2\1\0\1\0\0\0\0", 8));
    ExpectServes("silent, kept, trickling and deaf peers");

    const auto start = Clock::now();
    for (int i = 0; i < 8; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(150));
        const std::string x = FcgiRecord(kFcgiStdin, 1, "x");  // never sent as a whole in time
        ::send(trickle, x.data(), x.size(), MSG_NOSIGNAL);
    }
    bool closed = false;
    for (int fd : silent) {
        Read(fd, 3000, &closed);
        EXPECT_TRUE(closed) << "silent";
    }
    Read(kept, 3000, &closed);
    EXPECT_TRUE(closed) << "kept";
    Read(trickle, 3000, &closed);
    EXPECT_TRUE(closed) << "trickle";
    // Closed by the server while its answers still wait unread (a closed peer shows as a hang-up).
    std::this_thread::sleep_for(std::chrono::milliseconds(1600) - (Clock::now() - start));
    pollfd p{deaf, 0, 0};
    ::poll(&p, 1, 0);
    EXPECT_TRUE(p.revents & POLLHUP) << "deaf";
    EXPECT_LT(Clock::now() - start, std::chrono::seconds(4));

    // Eight idle connections: the ninth closes the one idle longest and is served. Its request
    // comes a moment after the connection, so that it is the loop's too when workers take them (a
    // request that comes whole is served and closed by a worker without ever being counted).
    std::vector<int> idle;
    for (int i = 0; i < 8; ++i) {
        idle.push_back(Connect());
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    const int ninth = Connect();
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    Send(ninth, FcgiRequest(Post("3"), "a=8", 3));
    EXPECT_NE(Out(Answer(ninth, 3, 1000)).find("ok:8"), std::string::npos);
    Read(idle[0], 300, &closed);
    EXPECT_TRUE(closed) << "longest idle";
    Read(idle[7], 50, &closed);
    EXPECT_FALSE(closed) << "newest idle";
}

// Eight requests arriving slowly hold every place: each new connection takes the place of the one
// arriving longest and is served, however it came in; the limit is logged once for the burst.
TEST_P(HostilePeers, AtTheLimitTheRequestArrivingLongestMakesRoom) {
    std::vector<int> arriving;
    for (int i = 0; i < 8; ++i) {
        arriving.push_back(Connect());
        Send(arriving.back(), Head(1, "100") + FcgiRecord(kFcgiStdin, 1, "a"));
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    const int ninth = Connect();
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    Send(ninth, Head(3, "3"));
    const int tenth = Connect();
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    Send(tenth, FcgiRequest(Post("3"), "a=8", 4));
    EXPECT_NE(Out(Answer(tenth, 4, 1000)).find("ok:8"), std::string::npos) << "the tenth";
    Send(ninth, FcgiRecord(kFcgiStdin, 3, "a=9") + FcgiRecord(kFcgiStdin, 3, ""));
    EXPECT_NE(Out(Answer(ninth, 3, 1000)).find("ok:9"), std::string::npos) << "the ninth";
    bool closed = false;
    for (int i = 0; i < 3; ++i) {
        Read(arriving[i], 50, &closed);
        EXPECT_EQ(closed, i < 2) << "arriving " << i;
    }
    std::ifstream log(Temp.Path() + "/" + ExtractFileName(ModuleFileName()) + ".Log");
    const std::string text((std::istreambuf_iterator<char>(log)), std::istreambuf_iterator<char>());
    const size_t first = text.find("reached the limit of 8");
    EXPECT_NE(first, std::string::npos) << text;
    EXPECT_EQ(text.find("reached the limit", first + 1), std::string::npos) << "once for the burst";
}

namespace {

// The highest descriptor open in this process.
int HighestOpenFd() {
    int highest = -1;
    DIR* d = ::opendir("/proc/self/fd");
    while (dirent* e = d ? ::readdir(d) : nullptr) highest = std::max(highest, std::atoi(e->d_name));
    if (d) ::closedir(d);
    return highest;
}

class ShortOfDescriptors : public HostilePeers {};

}  // namespace

// Descriptors run out while the workers take connections: the loop takes over, closes the longest
// idle connection so that a waiting post is served, and the workers take connections again later.
TEST_P(ShortOfDescriptors, TheLongestIdleConnectionMakesRoom) {
#if defined(__SANITIZE_ADDRESS__)
    // The sanitizers test memory for reading through a pipe of their own, which the exhausted
    // descriptors deny them: they would report errors that are not there.
    GTEST_SKIP() << "not under the sanitizers";
#endif
    std::vector<int> made;
    for (int i = 0; i < 3; ++i) made.push_back(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
    // Every free number below the highest taken, so that exactly two are left under the limit.
    std::vector<int> fillers;
    const int highest = HighestOpenFd();
    for (int fd = ::open("/dev/null", O_RDONLY | O_CLOEXEC); fd >= 0; fd = ::open("/dev/null", O_RDONLY | O_CLOEXEC)) {
        if (fd > highest) {
            ::close(fd);
            break;
        }
        fillers.push_back(fd);
    }
    rlimit saved{};
    ASSERT_EQ(::getrlimit(RLIMIT_NOFILE, &saved), 0);
    rlimit tight = saved;
    tight.rlim_cur = static_cast<rlim_t>(highest + 3);
    ASSERT_EQ(::setrlimit(RLIMIT_NOFILE, &tight), 0);

    const int idle0 = Dial(made[0]);
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    Dial(made[1]);
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    const int post = Dial(made[2]);
    Send(post, FcgiRequest(Post("3"), "a=9", 3));
    const std::string out = Out(Answer(post, 3, 2000));
    bool closed = false;
    Read(idle0, 300, &closed);
    ::setrlimit(RLIMIT_NOFILE, &saved);
    for (int fd : fillers) ::close(fd);
    EXPECT_NE(out.find("ok:9"), std::string::npos) << out;
    EXPECT_TRUE(closed) << "longest idle";
    std::this_thread::sleep_for(std::chrono::milliseconds(600));
    ExpectServes("descriptors free again");
}

INSTANTIATE_TEST_SUITE_P(Listening, ShortOfDescriptors, ::testing::Values(true));

INSTANTIATE_TEST_SUITE_P(Peers, HostilePeers, ::testing::Values(false, true),
                         [](const ::testing::TestParamInfo<bool>& p) { return p.param ? "Listening" : "HandedOver"; });
