// BSD sockets behind the Winsock 1.1 calls the socket layer was written against: numbers, address
// record and error codes keep their Winsock values, so callers above platform/ never see errno.
#pragma once

#include <cstdint>
#include <string>

namespace velmora {

using TSocket = int;
constexpr TSocket INVALID_SOCKET = -1;
constexpr int SOCKET_ERROR = -1;

// Winsock's numbers for the few constants the socket layer passes through.
constexpr int wsAfInet = 2;
constexpr int wsSockStream = 1;
constexpr int wsSockRaw = 3;
constexpr int wsSolSocket = 0xFFFF;
constexpr int wsSoOobInline = 0x0100;
constexpr int wsSdSend = 1;

// Winsock error numbers (WSAGetLastError).
constexpr int WSAEINTR = 10004, WSAEBADF = 10009, WSAEACCES = 10013, WSAEFAULT = 10014,
              WSAEINVAL = 10022, WSAEMFILE = 10024, WSAEWOULDBLOCK = 10035,
              WSAEINPROGRESS = 10036, WSAEALREADY = 10037, WSAENOTSOCK = 10038,
              WSAEDESTADDRREQ = 10039, WSAEMSGSIZE = 10040, WSAEPROTOTYPE = 10041,
              WSAENOPROTOOPT = 10042, WSAEPROTONOSUPPORT = 10043, WSAESOCKTNOSUPPORT = 10044,
              WSAEOPNOTSUPP = 10045, WSAEPFNOSUPPORT = 10046, WSAEAFNOSUPPORT = 10047,
              WSAEADDRINUSE = 10048, WSAEADDRNOTAVAIL = 10049, WSAENETDOWN = 10050,
              WSAENETUNREACH = 10051, WSAENETRESET = 10052, WSAECONNABORTED = 10053,
              WSAECONNRESET = 10054, WSAENOBUFS = 10055, WSAEISCONN = 10056, WSAENOTCONN = 10057,
              WSAESHUTDOWN = 10058, WSAETOOMANYREFS = 10059, WSAETIMEDOUT = 10060,
              WSAECONNREFUSED = 10061, WSAELOOP = 10062, WSAENAMETOOLONG = 10063,
              WSAEHOSTDOWN = 10064, WSAEHOSTUNREACH = 10065, WSAENOTEMPTY = 10066,
              WSAEPROCLIM = 10067, WSAEUSERS = 10068, WSAEDQUOT = 10069, WSAESTALE = 10070,
              WSAEREMOTE = 10071, WSASYSNOTREADY = 10091, WSAVERNOTSUPPORTED = 10092,
              WSANOTINITIALISED = 10093, WSAHOST_NOT_FOUND = 11001, WSATRY_AGAIN = 11002,
              WSANO_RECOVERY = 11003, WSANO_DATA = 11004;

// The IPv4 socket address record (16 bytes); Port and Addr in network byte order.
struct TSockAddrIn {
    uint16_t Family = 0;
    uint16_t Port = 0;
    uint32_t Addr = 0;
    char Zero[8] = {};
};
static_assert(sizeof(TSockAddrIn) == 16);

// Start and end of the sockets library: nothing to do on this platform, so both succeed (0).
int WSAStartup(uint16_t version);
int WSACleanup();

// The calling thread's last socket error, a Winsock number; set by every call below that fails.
int WSAGetLastError() noexcept;
void WSASetLastError(int code) noexcept;

// getaddrinfo results as Winsock numbers.
int WinsockErrorFromResolver(int eaiCode) noexcept;

// The socket calls. Sockets are made non-blocking (as an asynchronous selection would make them)
// and close-on-exec. Failures return SOCKET_ERROR / INVALID_SOCKET and set WSAGetLastError.
TSocket CreateSocket(int family, int type, int protocol);
// A connection that is under way reports WSAEWOULDBLOCK, as Winsock does for non-blocking sockets.
int ConnectSocket(TSocket s, const TSockAddrIn& address);
// Never raises SIGPIPE: a peer that went away is an error code, not the end of the process.
// A send that would block re-enables the socket's FD_WRITE notification, as Winsock's does.
int SendSocket(TSocket s, const char* data, int length, int flags);
// 0 when the peer has closed its side. Every receive re-enables the FD_READ notification.
int RecvSocket(TSocket s, char* buffer, int length, int flags);
int ShutdownSocket(TSocket s, int how);
int CloseSocket(TSocket s);
int SetSocketOption(TSocket s, int level, int option, int32_t value);
// Blocks until the socket can take more data or timeoutMs passes; true when it can.
bool WaitSocketWritable(TSocket s, int timeoutMs);

// Look-ups in the system's databases (host names: HostLookup.h, within a budget).
bool GetProtoByNumber(int number, std::string& name);
// The service's port for that protocol, in network byte order.
bool GetServByName(const std::string& name, const std::string& protocol, uint16_t& port);
// A dotted IPv4 address in network byte order; false when text is not one.
bool InetAddr(const std::string& text, uint32_t& address);
uint16_t HostToNetShort(uint16_t value) noexcept;
uint16_t NetToHostShort(uint16_t value) noexcept;
bool GetHostName(std::string& name);

}  // namespace velmora
