// Thread objects as the request threads use them: a self-freeing thread really frees itself after
// its work, a waited-for thread hands back its result, and a failing Execute harms nobody.
#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <stdexcept>
#include <thread>

#include "Thread.h"

using namespace velmora;

namespace {

// Signals set by threads and waited for by the test, with a limit so a fault fails instead of hanging.
struct Signal {
    std::mutex m;
    std::condition_variable cv;
    bool set = false;
    void Set() {
        std::lock_guard<std::mutex> l(m);
        set = true;
        cv.notify_all();
    }
    bool Wait() {
        std::unique_lock<std::mutex> l(m);
        return cv.wait_for(l, std::chrono::seconds(10), [this] { return set; });
    }
};

class TSelfFreeing : public TThread {
public:
    TSelfFreeing(Signal& ran, Signal& freed, uint64_t& seenId) : FRan(ran), FFreed(freed), FSeenId(seenId) {
        SetFreeOnTerminate(true);
        Start();  // created running: the last act of the most derived constructor
    }
    ~TSelfFreeing() override { FFreed.Set(); }

protected:
    void Execute() override {
        FSeenId = CurrentThreadId();
        FRan.Set();
    }

private:
    Signal &FRan, &FFreed;
    uint64_t& FSeenId;
};

// Started from outside by StartThread; ends at once.
class TQuick : public TThread {
public:
    explicit TQuick(Signal& freed) : FFreed(freed) { SetFreeOnTerminate(true); }
    ~TQuick() override { FFreed.Set(); }

protected:
    void Execute() override {}

private:
    Signal& FFreed;
};

class TCounter : public TThread {
public:
    int Loops = 0;

protected:
    void Execute() override {
        while (!Terminated()) {
            ++Loops;
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        ReturnValue = 42;
    }
};

class TThrower : public TThread {
protected:
    void Execute() override {
        ReturnValue = 7;
        throw std::runtime_error("request failed");
    }
};

class TSelfWaiter : public TThread {
public:
    bool Refused = false;

protected:
    void Execute() override {
        try {
            WaitFor();
        } catch (const EThread&) {
            Refused = true;
        }
    }
};

// Runs until released; touches only state outside itself.
class TGated : public TThread {
public:
    TGated(Signal& release, Signal& freed) : FRelease(release), FFreed(freed) {}
    ~TGated() override { FFreed.Set(); }

protected:
    void Execute() override { FRelease.Wait(); }

private:
    Signal &FRelease, &FFreed;
};

}  // namespace

TEST(Threads, FreeOnTerminateDeletesTheObjectWhenExecuteReturns) {
    Signal ran, freed;
    uint64_t seenId = 0;
    new TSelfFreeing(ran, freed, seenId);
    EXPECT_TRUE(ran.Wait());
    EXPECT_TRUE(freed.Wait());
    EXPECT_NE(seenId, 0u);
    EXPECT_NE(seenId, CurrentThreadId());
}

TEST(Threads, ManySelfFreeingThreadsAllFinish) {
    // Fast threads that end before their starter has returned from Start must not race it.
    constexpr int kThreads = 50;
    Signal freed[kThreads];
    for (int i = 0; i < kThreads; ++i) StartThread<TQuick>(freed[i]);
    for (int i = 0; i < kThreads; ++i) EXPECT_TRUE(freed[i].Wait()) << i;
}

TEST(Threads, WaitForReturnsTheResultAfterTerminate) {
    TCounter t;
    EXPECT_EQ(t.ThreadId(), 0u);
    EXPECT_EQ(t.WaitFor(), 0);  // never started: nothing to wait for
    t.Start();
    EXPECT_NE(t.ThreadId(), 0u);
    EXPECT_THROW(t.Start(), EThread);
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_FALSE(t.Finished());
    t.Terminate();
    EXPECT_EQ(t.WaitFor(), 42);
    EXPECT_TRUE(t.Finished());
    EXPECT_GT(t.Loops, 0);
}

TEST(Threads, AnExceptionEscapingExecuteIsSwallowed) {
    TThrower t;
    t.Start();
    EXPECT_EQ(t.WaitFor(), 7);
    EXPECT_TRUE(t.Finished());
}

TEST(Threads, WaitingIsRefusedWhereItCouldNeverEnd) {
    TSelfWaiter t;
    t.Start();
    t.WaitFor();
    EXPECT_TRUE(t.Refused);

    // A thread that frees itself may be gone by the time a wait would end.
    Signal release, freed;
    auto* self = new TGated(release, freed);
    self->SetFreeOnTerminate(true);
    self->Start();
    EXPECT_THROW(self->WaitFor(), EThread);
    release.Set();
    EXPECT_TRUE(freed.Wait());
}
