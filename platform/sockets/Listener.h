// TListener: the listening socket of a resident server that a web server connects to (FastCGI):
// a Unix socket path or a loopback host:port, or the socket a spawning server hands over as stdin.
#pragma once

#include <memory>
#include <string>

namespace velmora {

// True when fd is a socket in the listening state (how a spawning web server starts a FastCGI
// program: its listening socket as standard input).
bool IsListeningSocket(int fd) noexcept;

// Owns a listening socket; used by the thread of the event loop that watches it.
class TListener {
public:
    // "/path/to.sock" (a Unix socket, made with mode 0660; a stale socket file of a server that
    // has gone is replaced), or "HOST:PORT" with HOST a loopback address ("127.0.0.1",
    // "localhost", "[::1]"). Null, with the reason in error, when it cannot be opened.
    static std::unique_ptr<TListener> Open(const std::string& address, std::string& error);
    // Takes over a listening socket made by someone else (the web server), which it then owns.
    static std::unique_ptr<TListener> Adopt(int fd);
    // Closes the socket; a Unix socket file this process made is removed.
    ~TListener();
    TListener(const TListener&) = delete;
    TListener& operator=(const TListener&) = delete;

    // The descriptor an event loop watches for connections to take.
    int Fd() const noexcept { return FFd; }
    // Takes a waiting connection without waiting, made non-blocking: its descriptor, or one of
    // kNoConnection (none now), kOutOfDescriptors (try again once some are closed), kListenFailed.
    static constexpr int kNoConnection = -1, kOutOfDescriptors = -2, kListenFailed = -3;
    int TryAccept() noexcept;
    // Stops taking connections at once (those not yet accepted are refused) and removes the
    // socket file this process made; threads waiting in Accept return -1.
    void Stop() noexcept;

private:
    explicit TListener(int fd) : FFd(fd) {}
    int FFd = -1;
    std::string FSocketFile;  // the Unix socket file made by Open, removed at the end
};

// Raises this process's limit of open descriptors to the most it may have (a server holding a
// thousand connections needs more than the usual 1024); returns the limit now in force.
long RaiseDescriptorLimit() noexcept;

// Closes a connection descriptor.
void CloseConnection(int fd) noexcept;

}  // namespace velmora
