// The epoll loop of a resident server's connections. Level-triggered: a connection whose reading
// the server stops for a while (its answer is not yet read) is simply reported again later.
#include "EventLoop.h"

#include <fcntl.h>
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>

#include "CloseSignals.h"
#include "Messages.h"

namespace velmora {

namespace {

constexpr int kMaxEvents = 256;

}  // namespace

TEventLoop::TEventLoop() {
    FEpoll = ::epoll_create1(EPOLL_CLOEXEC);
    FWake = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (Ok()) Watch(FWake, kWakeToken, true, false);
}

TEventLoop::~TEventLoop() {
    if (FWake >= 0) ::close(FWake);
    if (FEpoll >= 0) ::close(FEpoll);
}

namespace {

epoll_event Interest(uint64_t token, bool read, bool write) {
    epoll_event e{};
    e.events = (read ? EPOLLIN | EPOLLRDHUP : 0u) | (write ? EPOLLOUT : 0u);
    e.data.u64 = token;
    return e;
}

}  // namespace

bool TEventLoop::Watch(int fd, uint64_t token, bool read, bool write) noexcept {
    epoll_event e = Interest(token, read, write);
    if (::epoll_ctl(FEpoll, EPOLL_CTL_MOD, fd, &e) == 0) return true;
    return errno == ENOENT && ::epoll_ctl(FEpoll, EPOLL_CTL_ADD, fd, &e) == 0;
}

bool TEventLoop::WatchNew(int fd, uint64_t token, bool read, bool write) noexcept {
    epoll_event e = Interest(token, read, write);
    return ::epoll_ctl(FEpoll, EPOLL_CTL_ADD, fd, &e) == 0 || Watch(fd, token, read, write);
}

bool TEventLoop::WatchShared(int fd, uint64_t token) noexcept {
    // Without EPOLLEXCLUSIVE every idle loop would wake for each connection or job and all but one
    // would find nothing.
    epoll_event e{};
    e.events = EPOLLIN | EPOLLEXCLUSIVE;
    e.data.u64 = token;
    return ::epoll_ctl(FEpoll, EPOLL_CTL_ADD, fd, &e) == 0;
}

void TEventLoop::Forget(int fd) noexcept { ::epoll_ctl(FEpoll, EPOLL_CTL_DEL, fd, nullptr); }

void TEventLoop::WatchCloseSignal() noexcept {
    FCloseWatched = true;
    if (CloseSignalFd() >= 0) Watch(CloseSignalFd(), kCloseSignalToken, true, false);
}

void TEventLoop::Wake() noexcept {
    const uint64_t one = 1;
    [[maybe_unused]] ssize_t n = ::write(FWake, &one, sizeof one);
}

void TEventLoop::Wait(int timeoutMs, std::vector<TLoopEvent>& events) {
    events.clear();
    // A signal that came before the watch began, or while the last events were handled.
    if (FCloseWatched && !FCloseReported && CloseSignalArrived()) {
        FCloseReported = true;
        if (CloseSignalFd() >= 0) Forget(CloseSignalFd());
        events.push_back({kCloseSignalToken, true, false, false});
        return;
    }
    epoll_event ready[kMaxEvents];
    const int n = ::epoll_wait(FEpoll, ready, kMaxEvents, timeoutMs);
    for (int i = 0; i < n; ++i) {
        const uint64_t token = ready[i].data.u64;
        if (token == kWakeToken) {
            uint64_t count = 0;
            [[maybe_unused]] ssize_t r = ::read(FWake, &count, sizeof count);
        } else if (token == kCloseSignalToken) {
            // The signal descriptor is the message queue's to drain: looked at once, then left.
            Forget(CloseSignalFd());
            if (FCloseReported) continue;
            FCloseReported = true;
        }
        const uint32_t ev = ready[i].events;
        events.push_back({token, (ev & (EPOLLIN | EPOLLRDHUP | EPOLLHUP | EPOLLERR)) != 0, (ev & EPOLLOUT) != 0,
                          (ev & (EPOLLHUP | EPOLLERR)) != 0});
    }
}

long ReadSome(int fd, char* buffer, size_t size) noexcept {
    for (;;) {
        const ssize_t n = ::recv(fd, buffer, size, 0);
        if (n >= 0) return static_cast<long>(n);
        if (errno == EINTR) continue;
        return errno == EAGAIN || errno == EWOULDBLOCK ? kIoWouldBlock : kIoFailed;
    }
}

long WriteSome(int fd, const char* data, size_t size) noexcept {
    for (;;) {
        // A peer that has gone is an error here, never a SIGPIPE for the whole process.
        const ssize_t n = ::send(fd, data, size, MSG_NOSIGNAL);
        if (n >= 0) return static_cast<long>(n);
        if (errno == EINTR) continue;
        return errno == EAGAIN || errno == EWOULDBLOCK ? kIoWouldBlock : kIoFailed;
    }
}

void MakeNonBlocking(int fd) noexcept {
    const int flags = ::fcntl(fd, F_GETFL);
    if (flags >= 0) ::fcntl(fd, F_SETFL, flags | O_NONBLOCK);
}

}  // namespace velmora
