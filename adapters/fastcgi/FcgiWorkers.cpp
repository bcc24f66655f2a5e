// The worker threads: each waits in an event loop of its own for a job (the oldest is taken) or,
// while taking is on, for a connection on the listener; both are watched shared, so one job or one
// connection wakes one idle worker. A worker is never held by a peer, only by the program's work.
#include "FcgiWorkers.h"

#include "EventLoop.h"
#include "HttpEng.h"

namespace velmora::fcgi {

namespace {

constexpr uint64_t kJobToken = 1;
constexpr uint64_t kListenerToken = 2;

}  // namespace

struct TWorkers::TWorker {
    TEventLoop Loop;
    bool Listening = false;
};

TWorkers::TWorkers(int count) {
    if (!FJobsWaiting.Ok()) return;
    for (int i = 0; i < count; ++i) {
        auto worker = std::make_unique<TWorker>();
        if (!worker->Loop.Ok() || !worker->Loop.WatchShared(FJobsWaiting.Fd(), kJobToken)) break;
        try {
            FThreads.emplace_back([this, w = worker.get()] { Work(*w); });
        } catch (const std::exception& e) {
            // Fewer threads than asked for still serve.
            WriteLog(std::string("FastCGI thread not started: ") + e.what());
            break;
        }
        FWorkers.push_back(std::move(worker));
    }
}

TWorkers::~TWorkers() {
    FEnding = true;
    WakeAll();
    for (std::thread& t : FThreads) t.join();
}

void TWorkers::Post(std::function<void()> job) {
    {
        std::lock_guard<std::mutex> hold(FLock);
        FJobs.push_back(std::move(job));
    }
    FJobsWaiting.Raise();
}

void TWorkers::SetTakingWith(TTaking taking) { FTaking = std::move(taking); }

void TWorkers::SetTaking(bool on) {
    {
        std::lock_guard<std::mutex> hold(FLock);
        if (FTakingOn == on) return;
        FTakingOn = on;
    }
    ++FTakingChanges;
    WakeAll();
}

void TWorkers::WakeAll() {
    for (auto& w : FWorkers) w->Loop.Wake();
}

// The count is raised after the push, so a count taken has its job in the queue; a count another
// worker took first leaves nothing to run.
bool TWorkers::RunJob() {
    if (!FJobsWaiting.TryTake()) return false;
    std::function<void()> job;
    {
        std::lock_guard<std::mutex> hold(FLock);
        job = std::move(FJobs.front());
        FJobs.pop_front();
    }
    job();
    return true;
}

// The listener is watched while taking is on; a worker whose taking ran into trouble stops
// watching until taking is switched on anew.
void TWorkers::FollowTaking(TWorker& me, uint64_t& seen) {
    const uint64_t now = FTakingChanges.load();
    if (now == seen) return;
    seen = now;
    bool on;
    {
        std::lock_guard<std::mutex> hold(FLock);
        on = FTakingOn;
    }
    if (on && !me.Listening) me.Listening = me.Loop.WatchShared(FTaking.ListenFd, kListenerToken);
    if (!on && me.Listening) {
        me.Loop.Forget(FTaking.ListenFd);
        me.Listening = false;
    }
}

void TWorkers::Work(TWorker& me) {
    uint64_t seen = 0;
    std::vector<TLoopEvent> events;
    for (;;) {
        if (FEnding) {
            while (RunJob()) {
            }
            return;
        }
        FollowTaking(me, seen);
        me.Loop.Wait(-1, events);
        for (const TLoopEvent& e : events) {
            if (e.Token == kJobToken) RunJob();
            if (e.Token != kListenerToken || !me.Listening) continue;
            const int fd = FTaking.Take();
            if (fd >= 0) {
                FTaking.Serve(fd);
            } else if (fd != -1) {
                me.Loop.Forget(FTaking.ListenFd);
                me.Listening = false;
                SetTaking(false);
                FTaking.Trouble(fd);
            }
        }
    }
}

}  // namespace velmora::fcgi
