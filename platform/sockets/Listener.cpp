// The listening socket of a FastCGI server: opening a Unix or loopback TCP address, adopting the
// web server's socket, and taking connections for the event loop without waiting.
#include "Listener.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "EventLoop.h"

namespace velmora {

namespace {

constexpr int kBacklog = 128;

std::string ErrnoText() { return std::strerror(errno); }

// A socket file left by a server that has gone refuses connections and may be replaced; one that
// accepts belongs to a running server, and anything that is not a socket is never touched.
bool ClearStaleSocketFile(const std::string& path, std::string& error) {
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0) return true;
    if (!S_ISSOCK(st.st_mode)) {
        error = path + " exists and is not a socket";
        return false;
    }
    int probe = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un a{};
    a.sun_family = AF_UNIX;
    std::memcpy(a.sun_path, path.c_str(), path.size() + 1);
    bool alive = ::connect(probe, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
    ::close(probe);
    if (alive) {
        error = path + " is in use by a running server";
        return false;
    }
    ::unlink(path.c_str());
    return true;
}

int OpenUnixSocket(const std::string& path, std::string& error) {
    sockaddr_un a{};
    if (path.size() >= sizeof a.sun_path) {
        error = "socket path longer than " + std::to_string(sizeof a.sun_path - 1) + " bytes: " + path;
        return -1;
    }
    if (!ClearStaleSocketFile(path, error)) return -1;
    a.sun_family = AF_UNIX;
    std::memcpy(a.sun_path, path.c_str(), path.size() + 1);
    int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    // Owner and group only: whoever may connect can send requests in the web server's name.
    if (fd < 0 || ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || ::chmod(path.c_str(), 0660) != 0 ||
        ::listen(fd, kBacklog) != 0) {
        error = "cannot listen on " + path + ": " + ErrnoText();
        if (fd >= 0) ::close(fd);
        return -1;
    }
    return fd;
}

// Only loopback: a FastCGI port open to the network would take requests from anyone in the web
// server's name, with whatever server variables they care to send.
bool LoopbackAddress(const std::string& host, sockaddr_storage& sa, socklen_t& len) {
    std::memset(&sa, 0, sizeof sa);
    if (host == "[::1]") {
        auto* a6 = reinterpret_cast<sockaddr_in6*>(&sa);
        a6->sin6_family = AF_INET6;
        a6->sin6_addr = in6addr_loopback;
        len = sizeof *a6;
        return true;
    }
    auto* a4 = reinterpret_cast<sockaddr_in*>(&sa);
    a4->sin_family = AF_INET;
    len = sizeof *a4;
    if (host == "localhost") {
        a4->sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        return true;
    }
    return ::inet_pton(AF_INET, host.c_str(), &a4->sin_addr) == 1 && (ntohl(a4->sin_addr.s_addr) >> 24) == 127;
}

int OpenTcpSocket(const std::string& address, std::string& error) {
    size_t colon = address.rfind(':');
    std::string host = address.substr(0, colon), portText = address.substr(colon + 1);
    char* end = nullptr;
    long port = std::strtol(portText.c_str(), &end, 10);
    sockaddr_storage sa{};
    socklen_t len = 0;
    if (portText.empty() || *end != '\0' || port < 1 || port > 65535) {
        error = "bad port in " + address;
        return -1;
    }
    if (!LoopbackAddress(host, sa, len)) {
        error = "not a loopback address: " + host + " (only 127.0.0.0/8, localhost and [::1] are served)";
        return -1;
    }
    (sa.ss_family == AF_INET6 ? reinterpret_cast<sockaddr_in6*>(&sa)->sin6_port
                              : reinterpret_cast<sockaddr_in*>(&sa)->sin_port) = htons(static_cast<uint16_t>(port));
    int fd = ::socket(sa.ss_family, SOCK_STREAM | SOCK_CLOEXEC, 0);
    int one = 1;
    if (fd >= 0) ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    if (fd < 0 || ::bind(fd, reinterpret_cast<sockaddr*>(&sa), len) != 0 || ::listen(fd, kBacklog) != 0) {
        error = "cannot listen on " + address + ": " + ErrnoText();
        if (fd >= 0) ::close(fd);
        return -1;
    }
    return fd;
}

}  // namespace

bool IsListeningSocket(int fd) noexcept {
    int listening = 0;
    socklen_t len = sizeof listening;
    return ::getsockopt(fd, SOL_SOCKET, SO_ACCEPTCONN, &listening, &len) == 0 && listening != 0;
}

std::unique_ptr<TListener> TListener::Open(const std::string& address, std::string& error) {
    bool unixPath = !address.empty() && address[0] == '/';
    if (!unixPath && address.find(':') == std::string::npos) {
        error = "listening address must be a socket path (starting with /) or HOST:PORT: " + address;
        return nullptr;
    }
    int fd = unixPath ? OpenUnixSocket(address, error) : OpenTcpSocket(address, error);
    if (fd < 0) return nullptr;
    MakeNonBlocking(fd);
    std::unique_ptr<TListener> listener(new TListener(fd));
    if (unixPath) listener->FSocketFile = address;
    return listener;
}

std::unique_ptr<TListener> TListener::Adopt(int fd) {
    // Non-blocking: the event loop takes connections only when told there is one.
    MakeNonBlocking(fd);
    return std::unique_ptr<TListener>(new TListener(fd));
}

TListener::~TListener() {
    if (FFd >= 0) ::close(FFd);
    if (!FSocketFile.empty()) ::unlink(FSocketFile.c_str());
}

void TListener::Stop() noexcept {
    if (FFd >= 0) ::shutdown(FFd, SHUT_RDWR);
    if (!FSocketFile.empty()) ::unlink(FSocketFile.c_str());
    FSocketFile.clear();
}

int TListener::TryAccept() noexcept {
    for (;;) {
        const int fd = ::accept4(FFd, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
        if (fd >= 0) return fd;
        // The peer gave up before it was taken: look for the next.
        if (errno == EINTR || errno == ECONNABORTED || errno == EPROTO) continue;
        if (errno == EAGAIN || errno == EWOULDBLOCK) return kNoConnection;
        // The backlog keeps the connection until descriptors or memory are free again.
        if (errno == EMFILE || errno == ENFILE || errno == ENOBUFS || errno == ENOMEM) return kOutOfDescriptors;
        return kListenFailed;
    }
}

long RaiseDescriptorLimit() noexcept {
    rlimit r{};
    if (::getrlimit(RLIMIT_NOFILE, &r) != 0) return -1;
    if (r.rlim_cur < r.rlim_max) {
        r.rlim_cur = r.rlim_max;
        ::setrlimit(RLIMIT_NOFILE, &r);
        ::getrlimit(RLIMIT_NOFILE, &r);
    }
    return r.rlim_cur == RLIM_INFINITY ? -1 : static_cast<long>(r.rlim_cur);
}

void CloseConnection(int fd) noexcept {
    if (fd >= 0) ::close(fd);
}

}  // namespace velmora
