// TWorkers: the pool of threads that run complete requests for the event loop. A job is handed
// over whole and runs to its end; the loop never waits for one.
#pragma once

#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

namespace velmora::fcgi {

// Shared between the loop's thread (Post) and the workers; the destructor lets the jobs already
// posted finish and joins every thread.
class TWorkers {
public:
    // Starts up to count threads (fewer when the system refuses more; see Started).
    explicit TWorkers(int count);
    ~TWorkers();
    TWorkers(const TWorkers&) = delete;
    TWorkers& operator=(const TWorkers&) = delete;

    int Started() const { return static_cast<int>(FThreads.size()); }
    void Post(std::function<void()> job);

private:
    void Work();

    std::mutex FLock;
    std::condition_variable FReady;
    std::deque<std::function<void()>> FJobs;  // guarded by FLock
    bool FEnding = false;                      // guarded by FLock
    std::vector<std::thread> FThreads;
};

}  // namespace velmora::fcgi
