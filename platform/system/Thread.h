// TThread: a thread object whose Execute runs on a thread of its own, with termination requests,
// waiting, and objects that free themselves when their work is done.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <utility>

#include "SysUtils.h"

namespace velmora {

class EThread : public Exception { using Exception::Exception; };

// Derive, override Execute, then Start. A thread is "created running" by StartThread<T>(...), or by
// a most-derived constructor that ends with Start(): the object must be complete before Execute runs.
// Exceptions escaping Execute are swallowed: a thread's failure never takes the process down.
// Ownership: with FreeOnTerminate the thread deletes the object when Execute returns, so no one else
// may touch it after Start; otherwise the creator deletes it, after WaitFor.
class TThread {
public:
    TThread() = default;
    // Waits for a running Execute after asking it to terminate. A derived class whose Execute uses
    // its own members must WaitFor in its own destructor (or before delete), as they go first.
    virtual ~TThread();
    TThread(const TThread&) = delete;
    TThread& operator=(const TThread&) = delete;

    // Starts Execute on a new thread; EThread when already started or the thread cannot be made.
    void Start();
    // Asks Execute to end; Execute looks at Terminated() and decides when.
    void Terminate() noexcept { FTerminated = true; }
    bool Terminated() const noexcept { return FTerminated; }
    // May be set before Start or from Execute; it is read when Execute returns.
    void SetFreeOnTerminate(bool value) noexcept { FFreeOnTerminate = value; }
    bool FreeOnTerminate() const noexcept { return FFreeOnTerminate; }
    // Blocks until Execute has returned; its ReturnValue. At once when never started. EThread when
    // called by the thread itself or on an object that frees itself.
    int WaitFor();
    bool Finished() const noexcept { return FFinished; }
    // The running thread's id (as CurrentThreadId() reports it on that thread); 0 before Start.
    uint64_t ThreadId() const noexcept { return FThreadId; }

protected:
    virtual void Execute() = 0;
    int ReturnValue = 0;

private:
    static void Run(TThread* self);

    std::mutex FLock;
    std::condition_variable FDone;
    std::atomic<bool> FTerminated{false};
    std::atomic<bool> FFreeOnTerminate{false};
    std::atomic<bool> FStarted{false};
    std::atomic<bool> FFinished{false};
    std::atomic<uint64_t> FThreadId{0};
};

// Creates a T and starts it once it is fully constructed; the pointer is the caller's only while
// T does not free itself.
template <class T, class... Args>
T* StartThread(Args&&... args) {
    T* t = new T(std::forward<Args>(args)...);
    t->Start();
    return t;
}

// The calling thread's id, comparable with TThread::ThreadId.
uint64_t CurrentThreadId() noexcept;

}  // namespace velmora
