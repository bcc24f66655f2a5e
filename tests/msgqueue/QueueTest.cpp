// Posting, peeking by range, dispatching to windows, waking a waiting thread, and waits that
// block without using the processor.
#include <gtest/gtest.h>

#include <chrono>
#include <thread>
#include <vector>

#include "Messages.h"
#include "WaitClock.h"

namespace velmora {
namespace {

using Clock = TestClock;



TEST(MessageQueue, PeekByRangeRemoveAndDispatch) {
    TMessageQueue& q = TMessageQueue::Current();
    std::vector<unsigned> seen;
    HWND w = q.AllocateHWnd([&](TMsg& m) { seen.push_back(m.Message); });
    q.Post(w, WM_USER + 1, 7, -3);
    q.Post(0, WM_CLOSE);
    q.Post(w, WM_USER + 2);

    TMsg m;
    // Looking without removing, in a range that skips the first message.
    ASSERT_TRUE(q.Peek(m, 0, 0x3FF, false));
    EXPECT_EQ(m.Message, WM_CLOSE);
    EXPECT_EQ(m.Window, 0u);
    ASSERT_TRUE(q.Peek(m, WM_USER + 2, WM_USER + 2, true));
    EXPECT_EQ(m.Window, w);
    EXPECT_FALSE(q.Peek(m, WM_USER + 2, WM_USER + 2, true));
    // The rest is still there, in posting order, and reaches the window's handler.
    ASSERT_TRUE(q.Peek(m));
    EXPECT_EQ(m.Message, WM_USER + 1);
    EXPECT_EQ(m.WParam, 7u);
    EXPECT_EQ(m.LParam, -3);
    q.Dispatch(m);
    EXPECT_EQ(seen, std::vector<unsigned>{WM_USER + 1});

    std::vector<unsigned> threadMsgs;
    q.OnThreadMessage = [&](TMsg& t) { threadMsgs.push_back(t.Message); };
    q.ProcessMessages();
    EXPECT_EQ(threadMsgs, std::vector<unsigned>{WM_CLOSE});
    EXPECT_FALSE(q.Peek(m));
    q.OnThreadMessage = nullptr;

    // A freed window's pending and later messages go nowhere; its handle is not reused.
    q.Post(w, WM_USER + 3);
    q.DeallocateHWnd(w);
    EXPECT_FALSE(q.Peek(m, 0, 0, false));
    EXPECT_FALSE(PostMessage(w, WM_USER + 4));
    TMsg stale{w, WM_USER + 5, 0, 0};
    q.Dispatch(stale);
    EXPECT_EQ(seen.size(), 1u);
    HWND w2 = q.AllocateHWnd([](TMsg&) {});
    EXPECT_NE(w2, w);
    q.DeallocateHWnd(w2);
}

TEST(MessageQueue, HandlerMayFreeItsOwnWindow) {
    TMessageQueue& q = TMessageQueue::Current();
    HWND w = 0;
    int calls = 0;
    w = q.AllocateHWnd([&](TMsg&) {
        ++calls;
        q.DeallocateHWnd(w);
    });
    q.Post(w, WM_USER);
    q.Post(w, WM_USER);
    q.ProcessMessages();
    EXPECT_EQ(calls, 1);
}

TEST(MessageQueue, PostFromAnotherThreadWakesTheOwner) {
    std::shared_ptr<TMessageQueue> q = TMessageQueue::CurrentShared();
    std::thread::id handledOn;
    HWND w = q->AllocateHWnd([&](TMsg&) { handledOn = std::this_thread::get_id(); });

    auto start = Clock::now();
    std::thread poster([q, w] {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        q->Post(w, WM_USER + 9);
    });
    bool woke = q->WaitMessage(5000);
    long waited = MsSince(start);
    poster.join();
    EXPECT_TRUE(woke);
    EXPECT_GE(waited, 40);
    EXPECT_LT(waited, 2500);  // woken by the post, not by the limit

    // PostMessage finds the owning queue by the window alone.
    std::thread other([w] { EXPECT_TRUE(PostMessage(w, WM_USER + 10)); });
    other.join();
    q->ProcessMessages();
    EXPECT_EQ(handledOn, std::this_thread::get_id());
    q->DeallocateHWnd(w);
}

TEST(MessageQueue, IdleWaitBlocksWithoutSpinning) {
    TMessageQueue& q = TMessageQueue::Current();
    HWND w = q.AllocateHWnd([](TMsg&) {});
    q.SetTimer(w, 1, 5000);  // a far timer bounds nothing within the wait
    long cpu0 = ThreadCpuMs();
    auto start = Clock::now();
    EXPECT_FALSE(q.WaitMessage(300));
    long waited = MsSince(start);
    long cpu = ThreadCpuMs() - cpu0;
    EXPECT_GE(waited, 295);
    EXPECT_LT(cpu, 50) << "the wait used the processor for " << cpu << " ms";
    q.DeallocateHWnd(w);
}

TEST(MessageQueue, QueuesArePerThread) {
    TMessageQueue* mine = &TMessageQueue::Current();
    TMessageQueue* theirs = nullptr;
    std::thread t([&] {
        theirs = &TMessageQueue::Current();
        TMsg m;
        EXPECT_FALSE(theirs->Peek(m));
    });
    t.join();
    EXPECT_NE(mine, theirs);
    EXPECT_EQ(mine, &TMessageQueue::Current());
}

}  // namespace
}  // namespace velmora
