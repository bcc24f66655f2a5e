// The list of files to remove on an ending signal: fixed slots of atomic pointers, so that the
// handler reads it without locks or allocation, and the handler that empties it.
#include "EndSignalCleanup.h"

#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <mutex>

namespace velmora {

namespace {

constexpr size_t kSlots = 256;
std::atomic<char*> gSlots[kSlots];
static_assert(std::atomic<char*>::is_always_lock_free, "the signal handler may only touch lock-free atomics");

extern "C" void OnEndSignal(int sig) {
    int saved = errno;
    RemoveListedFiles();
    // Blocked until the handler returns, then the signal acts with its default: the process ends.
    signal(sig, SIG_DFL);
    raise(sig);
    errno = saved;
}

}  // namespace

void RemoveOnEndSignal(const std::string& path) {
    char* copy = strdup(path.c_str());
    if (!copy) return;
    for (auto& slot : gSlots) {
        char* empty = nullptr;
        if (slot.compare_exchange_strong(empty, copy)) return;
    }
    free(copy);
}

// A handler running on another thread at this moment may still read the string being freed;
// it runs only as the process ends, so at worst one file is left to the sweep.
void ForgetOnEndSignal(const std::string& path) {
    for (auto& slot : gSlots) {
        char* p = slot.load();
        if (p && path == p && slot.compare_exchange_strong(p, nullptr)) {
            free(p);
            return;
        }
    }
}

void RemoveListedFiles() noexcept {
    for (auto& slot : gSlots)
        if (const char* p = slot.load()) unlink(p);
}

void InstallEndSignalCleanup() {
    static std::once_flag once;
    std::call_once(once, [] {
        for (int sig : {SIGTERM, SIGINT, SIGHUP}) {
            struct sigaction old {};
            if (sigaction(sig, nullptr, &old) != 0 || (old.sa_flags & SA_SIGINFO) || old.sa_handler != SIG_DFL) continue;
            struct sigaction sa {};
            sa.sa_handler = OnEndSignal;
            sigemptyset(&sa.sa_mask);
            sigaction(sig, &sa, nullptr);
        }
    });
}

}  // namespace velmora
