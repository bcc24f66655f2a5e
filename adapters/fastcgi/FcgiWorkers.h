// TWorkers: the pool of threads that run complete requests for the event loop. A job is handed
// over whole and runs to its end; the loop never waits for one. While the loop lets them, idle
// workers also take new connections from the listener themselves (see TServer::ServeTaken).
#pragma once

#include <atomic>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "SharedWake.h"

namespace velmora {
class TEventLoop;
}

namespace velmora::fcgi {

// How workers take connections: Take gives a connection's descriptor, -1 when none waits, or
// another negative code, which switches taking off for every worker and goes to Trouble (called on
// that worker's thread); Serve serves a taken connection to its end or hands it on.
struct TTaking {
    int ListenFd = -1;
    std::function<int()> Take;
    std::function<void(int fd)> Serve;
    std::function<void(int code)> Trouble;
};

// Shared between the loop's thread (Post, SetTaking) and the workers; the destructor lets the jobs
// already posted finish and joins every thread.
class TWorkers {
public:
    // Starts up to count threads (fewer when the system refuses more; see Started).
    explicit TWorkers(int count);
    ~TWorkers();
    TWorkers(const TWorkers&) = delete;
    TWorkers& operator=(const TWorkers&) = delete;

    int Started() const { return static_cast<int>(FThreads.size()); }
    void Post(std::function<void()> job);
    // Given once, before SetTaking(true); the functions are called on the workers' threads.
    void SetTakingWith(TTaking taking);
    // Idle workers take connections (true) or leave the listener alone (false: the loop takes them,
    // or the server is stopping). Callable from any thread.
    void SetTaking(bool on);

private:
    struct TWorker;
    void Work(TWorker& me);
    bool RunJob();
    void FollowTaking(TWorker& me, uint64_t& seen);
    void WakeAll();

    std::mutex FLock;
    std::deque<std::function<void()>> FJobs;  // guarded by FLock
    TSharedWake FJobsWaiting;                 // one count per job in FJobs
    TTaking FTaking;                          // set before taking is first switched on
    bool FTakingOn = false;                   // guarded by FLock
    std::atomic<uint64_t> FTakingChanges{0};
    std::atomic<bool> FEnding{false};
    std::vector<std::unique_ptr<TWorker>> FWorkers;
    std::vector<std::thread> FThreads;
};

}  // namespace velmora::fcgi
