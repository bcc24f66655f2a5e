// TThread on detached std::threads: completion is signalled through the object itself, so that a
// thread which frees itself and one which is waited for share one path.
// The start gate (FLock held across thread creation) keeps a fast thread from running ahead of Start.
#include "Thread.h"

#include <pthread.h>

#include <system_error>
#include <thread>

namespace velmora {

uint64_t CurrentThreadId() noexcept { return static_cast<uint64_t>(::pthread_self()); }

TThread::~TThread() {
    if (!FStarted || FFinished || FThreadId == CurrentThreadId()) return;
    Terminate();
    try {
        WaitFor();
    } catch (...) {
    }
}

void TThread::Start() {
    if (FStarted.exchange(true)) throw EThread("Thread already started");
    std::unique_lock<std::mutex> gate(FLock);
    try {
        std::thread t(&TThread::Run, this);
        FThreadId = static_cast<uint64_t>(t.native_handle());
        t.detach();
    } catch (const std::system_error& e) {
        FStarted = false;
        throw EThread(std::string("Cannot start thread: ") + e.what());
    }
}

void TThread::Run(TThread* self) {
    { std::lock_guard<std::mutex> gate(self->FLock); }  // Start has finished with the object
    try {
        self->Execute();
    } catch (...) {
    }
    if (self->FFreeOnTerminate) {
        self->FFinished = true;
        try {
            delete self;
        } catch (...) {
        }
        return;
    }
    // Notify under the lock: a waiter may delete the object as soon as it can take the lock again,
    // and this thread touches nothing of it after unlocking.
    std::lock_guard<std::mutex> lock(self->FLock);
    self->FFinished = true;
    self->FDone.notify_all();
}

int TThread::WaitFor() {
    if (!FStarted || FFinished) return ReturnValue;
    // Checked only while running: the id of a thread that has ended may be given to a new one.
    if (FThreadId == CurrentThreadId()) throw EThread("A thread cannot wait for itself");
    if (FFreeOnTerminate) throw EThread("Cannot wait for a thread that frees itself");
    std::unique_lock<std::mutex> lock(FLock);
    FDone.wait(lock, [this] { return FFinished.load(); });
    return ReturnValue;
}

}  // namespace velmora
