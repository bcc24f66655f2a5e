// The socket calls on BSD sockets: Winsock numbers in, Winsock error numbers out. Every failure
// stores its translated errno as the thread's last socket error before returning.
#include "Sockets.h"

#include <arpa/inet.h>
#include <cerrno>
#include <climits>
#include <cstring>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include "Messages.h"
#include "WinsockErrors.h"

namespace velmora {

namespace {

int Fail() {
    WSASetLastError(WinsockErrorFromErrno(errno));
    return SOCKET_ERROR;
}

int NativeType(int type) {
    switch (type) {
        case wsSockStream: return SOCK_STREAM;
        case wsSockRaw: return SOCK_RAW;
        default: return type;
    }
}

int NativeLevel(int level) { return level == wsSolSocket ? SOL_SOCKET : level; }
int NativeOption(int option) { return option == wsSoOobInline ? SO_OOBINLINE : option; }

}  // namespace

int WSAStartup(uint16_t) { return 0; }
int WSACleanup() { return 0; }

TSocket CreateSocket(int family, int type, int protocol) {
    int native = family == wsAfInet ? AF_INET : family;
    int s = ::socket(native, NativeType(type) | SOCK_NONBLOCK | SOCK_CLOEXEC, protocol);
    if (s < 0) {
        Fail();
        return INVALID_SOCKET;
    }
    return s;
}

int ConnectSocket(TSocket s, const TSockAddrIn& address) {
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_port = address.Port;
    sa.sin_addr.s_addr = address.Addr;
    if (::connect(s, reinterpret_cast<const sockaddr*>(&sa), sizeof sa) == 0) return 0;
    if (errno == EINPROGRESS) {
        WSASetLastError(WSAEWOULDBLOCK);
        return SOCKET_ERROR;
    }
    return Fail();
}

int SendSocket(TSocket s, const char* data, int length, int flags) {
    ssize_t n = ::send(s, data, static_cast<size_t>(length), flags | MSG_NOSIGNAL);
    if (n >= 0) return static_cast<int>(n);
    int result = Fail();
    if (WSAGetLastError() == WSAEWOULDBLOCK) ReenableSocketEvent(s, FD_WRITE);
    return result;
}

int RecvSocket(TSocket s, char* buffer, int length, int flags) {
    ssize_t n = ::recv(s, buffer, static_cast<size_t>(length), flags);
    int result = n < 0 ? Fail() : static_cast<int>(n);
    ReenableSocketEvent(s, FD_READ);
    return result;
}

int ShutdownSocket(TSocket s, int how) {
    int native = how == wsSdSend ? SHUT_WR : how == 0 ? SHUT_RD : SHUT_RDWR;
    return ::shutdown(s, native) == 0 ? 0 : Fail();
}

int CloseSocket(TSocket s) { return ::close(s) == 0 ? 0 : Fail(); }

int SetSocketOption(TSocket s, int level, int option, int32_t value) {
    int v = value;
    return ::setsockopt(s, NativeLevel(level), NativeOption(option), &v, sizeof v) == 0 ? 0 : Fail();
}

bool WaitSocketWritable(TSocket s, int timeoutMs) {
    pollfd p{s, POLLOUT, 0};
    int n;
    do n = ::poll(&p, 1, timeoutMs);
    while (n < 0 && errno == EINTR);
    return n > 0 && (p.revents & POLLOUT);
}

uint16_t HostToNetShort(uint16_t value) noexcept { return htons(value); }
uint16_t NetToHostShort(uint16_t value) noexcept { return ntohs(value); }

}  // namespace velmora
