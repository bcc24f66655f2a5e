// SIGTERM, SIGINT and SIGHUP as a request to close: the handler only does what is safe in a signal
// handler (an atomic flag and a write to an eventfd); the queue of the installing thread turns it
// into a WM_CLOSE thread message. A second signal before the first was collected ends the process.
#include <sys/eventfd.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdint>

#include "CloseSignals.h"
#include "EndSignalCleanup.h"
#include "Messages.h"

namespace velmora {

namespace {

std::atomic<bool> gCloseRequested{false};
std::atomic<int> gWakeFd{-1};
std::atomic<const TMessageQueue*> gSignalQueue{nullptr};
static_assert(std::atomic<bool>::is_always_lock_free && std::atomic<int>::is_always_lock_free,
              "the signal handler may only touch lock-free atomics");

extern "C" void OnCloseSignal(int sig) {
    int saved = errno;
    if (gCloseRequested.exchange(true)) {
        // The first request has not been collected: the process is not looking at its queue
        // (stuck, or busy outside the message loop), so a second signal ends it the usual way.
        // The signal stays blocked until this handler returns, then acts with its default.
        RemoveListedFiles();
        signal(sig, SIG_DFL);
        raise(sig);
    }
    int fd = gWakeFd.load();
    if (fd >= 0) {
        uint64_t one = 1;
        ssize_t written = write(fd, &one, sizeof one);
        (void)written;  // a full counter already wakes the reader
    }
    errno = saved;
}

}  // namespace

int CloseSignalFd() noexcept { return gWakeFd.load(); }

bool TakeCloseRequest() noexcept {
    int fd = gWakeFd.load();
    if (fd >= 0) {
        uint64_t count;
        ssize_t got = read(fd, &count, sizeof count);
        (void)got;  // nothing to read is the common case
    }
    // Drained first, so a signal arriving now leaves the descriptor readable for the next wait.
    return gCloseRequested.exchange(false);
}

bool CloseSignalArrived() noexcept { return gCloseRequested.load(); }

bool IsCloseSignalQueue(const TMessageQueue* queue) noexcept { return queue && gSignalQueue.load() == queue; }

void ForgetCloseSignalQueue(const TMessageQueue* queue) noexcept {
    gSignalQueue.compare_exchange_strong(queue, nullptr);
}

void InstallCloseSignals() {
    // The descriptor lives as long as the process: a handler may run at any moment, even while
    // threads and their queues end.
    static const int wakeFd = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    gWakeFd.store(wakeFd);
    gSignalQueue.store(&TMessageQueue::Current());

    struct sigaction sa {};
    sa.sa_handler = OnCloseSignal;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = SA_RESTART;  // other blocking calls go on; the queue's poll wakes by the eventfd
    for (int sig : {SIGTERM, SIGINT, SIGHUP}) sigaction(sig, &sa, nullptr);
}

}  // namespace velmora
