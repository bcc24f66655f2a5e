// TEventLoop: readiness of many sockets at once for one thread (epoll underneath), a wake-up other
// threads can send it, and the close signal as one more event; with the non-blocking reads and
// writes its sockets are served by.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace velmora {

struct TLoopEvent {
    uint64_t Token = 0;    // as given to Watch, or one of the tokens below
    bool Readable = false;  // bytes, the peer's end or an error to read
    bool Writable = false;
    bool Hangup = false;    // the peer has gone both ways (or the socket failed): reported even when not asked for
};

// Owned by one thread, which alone calls Watch, Forget and Wait; Wake may be called from any.
class TEventLoop {
public:
    static constexpr uint64_t kWakeToken = ~uint64_t{0};
    static constexpr uint64_t kCloseSignalToken = ~uint64_t{0} - 1;

    TEventLoop();
    ~TEventLoop();
    TEventLoop(const TEventLoop&) = delete;
    TEventLoop& operator=(const TEventLoop&) = delete;

    // False when the kernel refused the descriptors it needs (out of them, say).
    bool Ok() const noexcept { return FEpoll >= 0 && FWake >= 0; }
    // Starts or changes watching fd for reading and/or writing; false when fd cannot be watched.
    bool Watch(int fd, uint64_t token, bool read, bool write) noexcept;
    // Starts watching a descriptor new to this loop (one just accepted): one call fewer than Watch.
    bool WatchNew(int fd, uint64_t token, bool read, bool write) noexcept;
    // Starts watching for reading a descriptor that several loops watch (a listener, a TSharedWake):
    // each time it becomes ready, only one of the loops waiting then is woken.
    bool WatchShared(int fd, uint64_t token) noexcept;
    // Stops watching fd (before it is closed).
    void Forget(int fd) noexcept;
    // Reports a close signal (SIGTERM, SIGINT, SIGHUP; see InstallCloseSignals) once, with
    // kCloseSignalToken, also one that came before.
    void WatchCloseSignal() noexcept;
    // Makes the Wait in progress (or the next) return with kWakeToken.
    void Wake() noexcept;
    // Waits until something is ready or timeoutMs passed; events is filled anew.
    void Wait(int timeoutMs, std::vector<TLoopEvent>& events);

private:
    int FEpoll = -1;
    int FWake = -1;
    bool FCloseWatched = false;
    bool FCloseReported = false;
};

// Non-blocking socket I/O for connections a loop serves.
constexpr long kIoWouldBlock = -1;
constexpr long kIoFailed = -2;
// Bytes read (> 0), 0 at the peer's end, kIoWouldBlock or kIoFailed.
long ReadSome(int fd, char* buffer, size_t size) noexcept;
// Bytes written (>= 0), kIoWouldBlock or kIoFailed (the peer has gone).
long WriteSome(int fd, const char* data, size_t size) noexcept;
void MakeNonBlocking(int fd) noexcept;

}  // namespace velmora
