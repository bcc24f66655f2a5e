// Window timers and the TTimer component: firing order, firing on the owning thread only, no
// catch-up bursts, and a timer that frees itself from its own handler.
#include <gtest/gtest.h>

#include <chrono>
#include <mutex>
#include <thread>
#include <vector>

#include "Messages.h"
#include "Timer.h"

namespace velmora {
namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

// Runs the calling thread's message loop for the given time.
void Pump(int ms) {
    TMessageQueue& q = TMessageQueue::Current();
    auto end = Clock::now() + milliseconds(ms);
    while (Clock::now() < end) {
        auto left = std::chrono::duration_cast<milliseconds>(end - Clock::now()).count();
        q.WaitMessage(static_cast<int>(std::max<long>(left, 1)));
        q.ProcessMessages();
    }
}

struct Tick {
    uintptr_t Id;
    long AtMs;
};

TEST(Timers, FireInIntervalOrderAndNeverEarly) {
    TMessageQueue& q = TMessageQueue::Current();
    std::vector<Tick> ticks;
    auto start = Clock::now();
    HWND w = q.AllocateHWnd([&](TMsg& m) {
        ASSERT_EQ(m.Message, WM_TIMER);
        auto at = std::chrono::duration_cast<milliseconds>(Clock::now() - start).count();
        ticks.push_back(Tick{m.WParam, static_cast<long>(at)});
    });
    q.SetTimer(w, 50, 50);
    q.SetTimer(w, 30, 30);
    Pump(220);
    q.KillTimer(w, 30);
    q.KillTimer(w, 50);

    ASSERT_FALSE(ticks.empty());
    EXPECT_EQ(ticks.front().Id, 30u);
    int n30 = 0, n50 = 0;
    for (const Tick& t : ticks) {
        int& n = t.Id == 30 ? n30 : n50;
        ++n;
        // Late is possible on a busy machine; early never.
        EXPECT_GE(t.AtMs, static_cast<long>(t.Id) * n) << "tick " << n << " of the " << t.Id << " ms timer";
    }
    EXPECT_GE(n30, 2);
    EXPECT_GE(n50, 1);
    EXPECT_GE(n30, n50);

    // Nothing fires after KillTimer.
    size_t before = ticks.size();
    Pump(80);
    EXPECT_EQ(ticks.size(), before);
    q.DeallocateHWnd(w);
}

TEST(Timers, DueTogetherComeInDueOrderOncePerTimer) {
    TMessageQueue& q = TMessageQueue::Current();
    HWND w = q.AllocateHWnd([](TMsg&) {});
    q.SetTimer(w, 2, 50);
    q.SetTimer(w, 1, 30);
    q.SetTimer(w, 3, 40);
    // Both overdue several times over: one WM_TIMER each, the earliest due first, no burst.
    std::this_thread::sleep_for(milliseconds(170));
    std::vector<uintptr_t> ids;
    TMsg m;
    while (q.Peek(m)) ids.push_back(m.WParam);
    EXPECT_EQ(ids, (std::vector<uintptr_t>{1, 3, 2}));
    q.DeallocateHWnd(w);
    EXPECT_FALSE(q.Peek(m));
}

TEST(Timers, ThreadsOnlySeeTheirOwnTimers) {
    std::mutex lock;
    std::vector<std::pair<int, std::thread::id>> fired;
    auto worker = [&](int who, unsigned interval) {
        TTimer timer;
        timer.SetInterval(interval);
        timer.SetOnTimer([&, who](TObject*) {
            std::lock_guard<std::mutex> g(lock);
            fired.emplace_back(who, std::this_thread::get_id());
        });
        Pump(200);
    };
    std::thread a(worker, 1, 20), b(worker, 2, 35);
    std::thread::id ida = a.get_id(), idb = b.get_id();
    a.join();
    b.join();
    int na = 0, nb = 0;
    for (const auto& [who, tid] : fired) {
        EXPECT_EQ(tid, who == 1 ? ida : idb);
        (who == 1 ? na : nb)++;
    }
    EXPECT_GE(na, 2);
    EXPECT_GE(nb, 2);
}

TEST(TimerComponent, PropertiesEnableAndSelfFree) {
    TTimer probe;
    EXPECT_EQ(probe.Interval(), 1000u);
    EXPECT_TRUE(probe.Enabled());

    int fired = 0;
    TTimer timer;
    timer.SetInterval(20);
    timer.SetOnTimer([&](TObject* sender) {
        EXPECT_EQ(sender, &timer);
        ++fired;
    });
    Pump(120);
    EXPECT_GE(fired, 2);
    timer.SetEnabled(false);
    int atDisable = fired;
    Pump(80);
    EXPECT_EQ(fired, atDisable);
    timer.SetEnabled(true);
    Pump(80);
    EXPECT_GT(fired, atDisable);

    // A handler that frees its own timer, as a poll timer does when it stops polling.
    TComponent owner;
    auto* once = new TTimer(&owner);
    once->SetInterval(15);
    int onceFired = 0;
    once->SetOnTimer([&](TObject* sender) {
        ++onceFired;
        delete sender;
    });
    Pump(100);
    EXPECT_EQ(onceFired, 1);
    EXPECT_EQ(owner.ComponentCount(), 0);
}

}  // namespace
}  // namespace velmora
