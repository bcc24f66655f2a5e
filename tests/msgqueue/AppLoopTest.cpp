// Close signals and the application's message loop: SIGTERM becomes WM_CLOSE on the installing
// thread, and Run ends on WM_CLOSE or Terminate while handler exceptions do not end it.
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <stdexcept>
#include <thread>

#include "Forms.h"
#include "Messages.h"
#include "WaitClock.h"
#include "Timer.h"

namespace velmora {
namespace {

using Clock = TestClock;


TEST(CloseSignals, TermIntAndHupBecomeWmClose) {
    InstallCloseSignals();
    TMessageQueue& q = TMessageQueue::Current();
    for (int sig : {SIGTERM, SIGINT, SIGHUP}) {
        // Sent while the thread waits, from elsewhere; the handler may run on any thread.
        auto start = Clock::now();
        std::thread sender([sig] {
            std::this_thread::sleep_for(std::chrono::milliseconds(40));
            kill(getpid(), sig);
        });
        EXPECT_TRUE(q.WaitMessage(5000)) << "signal " << sig;
        sender.join();
        EXPECT_LT(MsSince(start), 2500);
        TMsg m;
        ASSERT_TRUE(q.Peek(m, 0, 0x3FF, true));
        EXPECT_EQ(m.Window, 0u);
        EXPECT_EQ(m.Message, WM_CLOSE);
        EXPECT_FALSE(q.Peek(m));  // one signal, one message
    }
    // Other threads' queues do not see it.
    kill(getpid(), SIGTERM);
    std::thread other([] {
        TMsg m;
        EXPECT_FALSE(TMessageQueue::Current().WaitMessage(60));
        EXPECT_FALSE(TMessageQueue::Current().Peek(m));
    });
    other.join();
    TMsg m;
    EXPECT_TRUE(q.Peek(m));
}

TEST(CloseSignalsDeathTest, SecondSignalBeforeCollectionEndsTheProcess) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            InstallCloseSignals();
            raise(SIGTERM);  // a close request nobody collects
            raise(SIGTERM);
            std::_Exit(0);
        },
        ::testing::KilledBySignal(SIGTERM), "");
}

TEST(ApplicationLoop, RunEndsOnWmCloseFromASignal) {
    InstallCloseSignals();
    TApplication app;
    std::thread sender([] {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        kill(getpid(), SIGTERM);
    });
    auto start = Clock::now();
    app.Run();
    sender.join();
    EXPECT_TRUE(app.Terminated());
    EXPECT_LT(MsSince(start), 2500);
}

TEST(ApplicationLoop, RunServesTimersUntilTerminate) {
    TApplication app;
    TTimer timer(&app);
    timer.SetInterval(10);
    int ticks = 0;
    timer.SetOnTimer([&](TObject*) {
        ++ticks;
        if (ticks == 2) throw std::runtime_error("handler failure");  // the loop goes on
        if (ticks == 4) app.Terminate();
    });
    app.Run();
    EXPECT_EQ(ticks, 4);
    EXPECT_TRUE(app.Terminated());

    // ProcessMessages alone also honours a WM_CLOSE thread message.
    TApplication other;
    TMessageQueue::Current().Post(0, WM_CLOSE);
    other.ProcessMessages();
    EXPECT_TRUE(other.Terminated());
    other.Run();  // already terminated: returns at once
}

}  // namespace
}  // namespace velmora
