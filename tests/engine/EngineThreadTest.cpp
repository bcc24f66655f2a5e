// Tests of requests on several threads at once: one engine, separate request state per thread,
// the process-wide request lock of a library in ServerMode, and the once-only first event.
#include <gtest/gtest.h>

#include <atomic>
#include <barrier>
#include <chrono>
#include <thread>

#include "System.h"
#include "TestEngine.h"

namespace velmora {
namespace {

using test::TTestEngine;

TEST(EngineThreads, TwoRequestsAtOnceKeepTheirOwnState) {
    TTestEngine e;
    e.BufferedOutput = true;
    std::barrier meet(2);
    std::atomic<int> wrongId{0};
    e.OnExecRequest = [&](TObject*) {
        // Each thread's request starts with its own id, flags and buffer.
        TRequestState& st = RequestState();
        bool redirect = st.RequestId % 2 == 1;
        int id = st.RequestId;
        meet.arrive_and_wait();  // both requests are running now
        if (redirect)
            e.WriteHeader("Location", "/r");
        meet.arrive_and_wait();
        for (int i = 0; i < 50; ++i) {
            e.Write("<" + std::to_string(id) + ">");
            std::this_thread::yield();
        }
        meet.arrive_and_wait();
        if (RequestState().RequestId != id || CurrentEngine() != &e) ++wrongId;
    };
    std::string outs[2];
    int ids[2] = {1, 2};  // one odd (redirect) and one even request number
    auto run = [&](int k) {
        e.ResetCapture();
        RequestState().RequestId = ids[k];
        e.HandleRequest();
        outs[k] = e.Output();
    };
    std::thread a(run, 0), b(run, 1);
    a.join();
    b.join();
    EXPECT_EQ(wrongId, 0);
    std::string body1, body2;
    for (int i = 0; i < 50; ++i) body1 += "<1>", body2 += "<2>";
    EXPECT_EQ(outs[0], "Location:/r\r\ncontent-type:text/html\r\ncontent-length:150\r\n\r\n" + body1);
    EXPECT_EQ(outs[1],
              "HTTP/1.1 200 OK\r\ncontent-type:text/html\r\ncontent-length:150\r\n\r\n" + body2);
}

// Runs two requests on two threads and returns how many ran their handler at the same time.
int PeakConcurrency(TTestEngine& e) {
    std::atomic<int> inside{0}, peak{0};
    e.OnExecRequest = [&](TObject*) {
        int now = ++inside;
        for (int old = peak; now > old && !peak.compare_exchange_weak(old, now);) {
        }
        // Long enough for the other thread to arrive unless something holds it back.
        for (int i = 0; i < 100 && peak < 2; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(5));
        --inside;
    };
    std::thread a([&] { e.HandleRequest(); }), b([&] { e.HandleRequest(); });
    a.join();
    b.join();
    return peak;
}

TEST(EngineThreads, LibraryInServerModeRunsOneRequestAtATime) {
    TTestEngine e;
    EXPECT_EQ(PeakConcurrency(e), 2);  // an executable takes no lock
    e.CGIMode = ServerMode;
    EXPECT_EQ(PeakConcurrency(e), 2);
    SetRunsAsLibrary(true);
    EXPECT_EQ(PeakConcurrency(e), 1);
    e.CGIMode = ServerThreadMode;
    EXPECT_EQ(PeakConcurrency(e), 2);
    SetRunsAsLibrary(false);
}

TEST(EngineThreads, FirstEventFinishesBeforeAnyRequestGoesOn) {
    TTestEngine e;
    std::atomic<int> firsts{0};
    std::atomic<bool> setUp{false};
    std::atomic<int> early{0};
    e.OnFirstExecRequest = [&](TObject*) {
        ++firsts;
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        setUp = true;
    };
    e.OnExecRequest = [&](TObject*) {
        if (!setUp) ++early;
    };
    std::thread a([&] { e.HandleRequest(); }), b([&] { e.HandleRequest(); });
    a.join();
    b.join();
    EXPECT_EQ(firsts, 1);
    EXPECT_EQ(early, 0);
}

}  // namespace
}  // namespace velmora
