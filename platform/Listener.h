// TListener: the listening socket of a resident server that a web server connects to (FastCGI):
// a Unix socket path or a loopback host:port, or the socket a spawning server hands over as stdin.
#pragma once

#include <memory>
#include <string>

namespace velmora {

// True when fd is a socket in the listening state (how a spawning web server starts a FastCGI
// program: its listening socket as standard input).
bool IsListeningSocket(int fd) noexcept;

// Owns a listening socket. Accept and WaitReadable may be called from several threads at once;
// both return early once a close signal (SIGTERM, SIGINT, SIGHUP; see InstallCloseSignals) came.
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

    // Waits for the next connection and returns it, with receive and send timeouts of
    // ioTimeoutSeconds so a peer that stalls cannot hold a thread for ever; -1 once a close
    // signal came or the socket failed.
    int Accept(int ioTimeoutSeconds);
    // Stops taking connections at once (those not yet accepted are refused) and removes the
    // socket file this process made; threads waiting in Accept return -1.
    void Stop() noexcept;

private:
    explicit TListener(int fd) : FFd(fd) {}
    int FFd = -1;
    std::string FSocketFile;  // the Unix socket file made by Open, removed at the end
};

// Waits until fd has bytes (or its end) to read: false when a close signal came first, or
// timeoutMs passed (-1: no limit). With fd -1 it waits for the close signal alone.
bool WaitReadableOrClose(int fd, int timeoutMs = -1) noexcept;

// Copies up to size bytes that wait in connection fd without taking them (they are read later
// by whoever serves it) and without waiting: how many (0: none yet), -1 when the connection
// failed. peerDone: the peer has ended its side, nothing more will come.
int PeekConnection(int fd, char* buffer, int size, bool& peerDone) noexcept;

// Closes a connection descriptor.
void CloseConnection(int fd) noexcept;

}  // namespace velmora
