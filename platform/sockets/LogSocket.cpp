// Handing a line to the system log's Unix socket (see LogSocket.h). A fresh socket per line: no
// descriptor outlives the call, so a fork or a daemon restart never leaves a stale one behind.
#include "LogSocket.h"

#include <sys/socket.h>
#include <sys/time.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace velmora {

namespace {

constexpr int kSendWaitSeconds = 1;

bool SendOn(int type, const sockaddr_un& address, const std::string& message, int& error) {
    int fd = ::socket(AF_UNIX, type | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        error = errno;
        return false;
    }
    timeval wait{kSendWaitSeconds, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &wait, sizeof wait);
    bool sent = ::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
    if (sent) {
        // A stream socket needs an end to each line; a datagram is one line by itself.
        std::string bytes = type == SOCK_STREAM ? message + std::string(1, '\0') : message;
        sent = ::send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(bytes.size());
    }
    error = sent ? 0 : errno;
    ::close(fd);
    return sent;
}

}  // namespace

bool SendToLogSocket(const std::string& socketPath, const std::string& message) noexcept {
    sockaddr_un address{};
    if (socketPath.empty() || socketPath.size() >= sizeof address.sun_path) return false;
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path, socketPath.c_str(), socketPath.size() + 1);
    int error = 0;
    if (SendOn(SOCK_DGRAM, address, message, error)) return true;
    return error == EPROTOTYPE && SendOn(SOCK_STREAM, address, message, error);
}

int CurrentProcessId() noexcept { return static_cast<int>(::getpid()); }

}  // namespace velmora
