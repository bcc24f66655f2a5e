// WSAAsyncSelect on poll. poll is level-triggered, Winsock notifications are not: each condition
// is reported once and the socket leaves the poll set for it until the owner re-enables it, so a
// waiting thread never wakes for something it has already been told.
#include "SocketWatch.h"

#include <sys/ioctl.h>
#include <sys/socket.h>

#include "WinsockErrors.h"

namespace velmora {

namespace {

// The socket's pending error (reading it clears it), as errno.
int PendingError(int fd) {
    int err = 0;
    socklen_t len = sizeof err;
    if (getsockopt(fd, SOL_SOCKET, SO_ERROR, &err, &len) != 0) return 0;
    return err;
}

bool IsConnected(int fd) {
    sockaddr_storage peer{};
    socklen_t len = sizeof peer;
    return getpeername(fd, reinterpret_cast<sockaddr*>(&peer), &len) == 0;
}

int BytesWaiting(int fd) {
    int n = 0;
    return ioctl(fd, FIONREAD, &n) == 0 ? n : 0;
}

}  // namespace

void TSocketWatch::Select(int fd, HWND window, unsigned message, long events, bool listening) {
    TEntry& e = FEntries[fd];
    e.Window = window;
    e.Message = message;
    e.Events = events;
    e.Gen = FNextGen++;
    e.Listening = listening;
    // Selecting again re-enables what was already reported once, as Winsock does.
    e.ReadArmed = e.WriteArmed = e.AcceptArmed = true;
    e.Parked = false;
    if (!(events & FD_CONNECT)) e.ConnectDone = true;
}

bool TSocketWatch::Remove(int fd, HWND& window, unsigned& message) {
    auto it = FEntries.find(fd);
    if (it == FEntries.end()) return false;
    window = it->second.Window;
    message = it->second.Message;
    FEntries.erase(it);
    return true;
}

void TSocketWatch::RemoveWindow(HWND window) {
    std::erase_if(FEntries, [window](const auto& kv) { return kv.second.Window == window; });
}

bool TSocketWatch::Reenable(int fd, long event) {
    auto it = FEntries.find(fd);
    if (it == FEntries.end()) return false;
    TEntry& e = it->second;
    if (event & FD_READ) e.ReadArmed = true;
    if (event & FD_WRITE) e.WriteArmed = true;
    if (event & FD_ACCEPT) e.AcceptArmed = true;
    e.Parked = false;
    return true;
}

void TSocketWatch::Unpark() {
    for (auto& kv : FEntries) kv.second.Parked = false;
}

// POLLHUP and POLLERR cannot be masked, so a socket that could only report those again is left
// out entirely (Finished, Parked, or nothing wanted).
short TSocketWatch::Wanted(const TEntry& e) const {
    if (e.Finished || e.Parked) return 0;
    if (!e.ConnectDone) return POLLOUT;  // a non-blocking connect completes as writable or error
    if (e.Listening) return (e.Events & FD_ACCEPT) && e.AcceptArmed ? POLLIN : 0;
    short ev = 0;
    bool reading = (e.Events & FD_READ) && e.ReadArmed;
    if (reading) ev |= POLLIN;
    // While unread data stands before the peer's close, the close waits for the owner to read.
    if ((e.Events & FD_CLOSE) && !e.CloseDone && (!e.EofPending || reading)) ev |= POLLRDHUP;
    if ((e.Events & FD_WRITE) && e.WriteArmed) ev |= POLLOUT;
    return ev;
}

void TSocketWatch::Fill(std::vector<pollfd>& fds, std::vector<uint64_t>& gens) const {
    for (const auto& [fd, e] : FEntries) {
        short ev = Wanted(e);
        if (!ev) continue;
        fds.push_back(pollfd{fd, ev, 0});
        gens.push_back(e.Gen);
    }
}

void TSocketWatch::Process(const pollfd* fds, const uint64_t* gens, size_t count,
                           std::vector<TSocketNote>& out) {
    for (size_t i = 0; i < count; ++i) {
        if (!fds[i].revents) continue;
        auto it = FEntries.find(fds[i].fd);
        if (it == FEntries.end() || it->second.Gen != gens[i]) continue;
        TEntry& e = it->second;
        short rev = fds[i].revents;
        if (rev & POLLNVAL) {  // closed without being deselected first
            FEntries.erase(it);
        } else if (!e.ConnectDone) {
            ProcessConnect(fds[i].fd, e, rev, out);
        } else if (e.Listening) {
            if ((rev & POLLIN) && (e.Events & FD_ACCEPT) && e.AcceptArmed) {
                Note(out, fds[i].fd, e, FD_ACCEPT, 0);
                e.AcceptArmed = false;
            } else {
                e.Parked = true;
            }
        } else {
            ProcessStream(fds[i].fd, e, rev, out);
        }
    }
}

void TSocketWatch::ProcessConnect(int fd, TEntry& e, short revents, std::vector<TSocketNote>& out) {
    if (int err = PendingError(fd)) {
        Note(out, fd, e, FD_CONNECT, WinsockErrorFromErrno(err));
        e.ConnectDone = e.Finished = true;  // a failed connection reports nothing else
    } else if ((revents & POLLOUT) && IsConnected(fd)) {
        e.ConnectDone = true;
        Note(out, fd, e, FD_CONNECT, 0);
        if ((e.Events & FD_WRITE) && e.WriteArmed) {
            Note(out, fd, e, FD_WRITE, 0);
            e.WriteArmed = false;
        }
    } else {
        // A socket that is not connecting yet polls as hung up; look again on the next call.
        e.Parked = true;
    }
}

void TSocketWatch::ProcessStream(int fd, TEntry& e, short revents, std::vector<TSocketNote>& out) {
    if (revents & POLLERR) {
        if (int err = PendingError(fd)) {  // reset or timed out: the connection is over
            if ((e.Events & FD_CLOSE) && !e.CloseDone) Note(out, fd, e, FD_CLOSE, WinsockErrorFromErrno(err));
            e.CloseDone = e.Finished = true;
            return;
        }
    }
    bool posted = false;
    if ((revents & POLLOUT) && (e.Events & FD_WRITE) && e.WriteArmed) {
        Note(out, fd, e, FD_WRITE, 0);
        e.WriteArmed = false;
        posted = true;
    }
    if (revents & (POLLIN | POLLRDHUP | POLLHUP)) {
        bool peerClosed = (revents & (POLLRDHUP | POLLHUP)) || e.EofPending;
        if (BytesWaiting(fd) > 0 && (e.Events & FD_READ)) {
            if (e.ReadArmed) {
                Note(out, fd, e, FD_READ, 0);
                e.ReadArmed = false;
                posted = true;
            }
            if (peerClosed) e.EofPending = true;
        } else if (peerClosed) {
            if ((e.Events & FD_CLOSE) && !e.CloseDone) {
                Note(out, fd, e, FD_CLOSE, 0);
                posted = true;
            }
            e.CloseDone = e.Finished = true;
        }
    }
    if (!posted && !e.Finished) e.Parked = true;
}

void TSocketWatch::Note(std::vector<TSocketNote>& out, int fd, const TEntry& e, long event, int error) {
    out.push_back(TSocketNote{fd, e.Window, e.Message, event, error});
}

}  // namespace velmora
