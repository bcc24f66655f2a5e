// The worker threads: each takes the oldest job, runs it, and waits for the next. Only complete
// requests are posted, so a worker is never held by a peer, only by the program's own work.
#include "FcgiWorkers.h"

#include "HttpEng.h"

namespace velmora::fcgi {

TWorkers::TWorkers(int count) {
    for (int i = 0; i < count; ++i) {
        try {
            FThreads.emplace_back([this] { Work(); });
        } catch (const std::exception& e) {
            // Fewer threads than asked for still serve.
            WriteLog(std::string("FastCGI thread not started: ") + e.what());
            break;
        }
    }
}

TWorkers::~TWorkers() {
    {
        std::lock_guard<std::mutex> hold(FLock);
        FEnding = true;
    }
    FReady.notify_all();
    for (std::thread& t : FThreads) t.join();
}

void TWorkers::Post(std::function<void()> job) {
    {
        std::lock_guard<std::mutex> hold(FLock);
        FJobs.push_back(std::move(job));
    }
    FReady.notify_one();
}

void TWorkers::Work() {
    for (;;) {
        std::function<void()> job;
        {
            std::unique_lock<std::mutex> hold(FLock);
            FReady.wait(hold, [this] { return FEnding || !FJobs.empty(); });
            if (FJobs.empty()) return;
            job = std::move(FJobs.front());
            FJobs.pop_front();
        }
        job();
    }
}

}  // namespace velmora::fcgi
