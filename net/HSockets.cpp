// TCustomCGISocket: one socket with name resolution, sending with retry on a full buffer, single
// non-blocking receives and a graceful close. Failures become error numbers through ReportError.
#include "HSockets.h"

#include "HostLookup.h"
#include "SysUtils.h"
#include "System.h"

namespace velmora {

namespace {

constexpr int kSendRetryWaitMs = 20;
constexpr int kMaxSendFailures = 1501;  // about 30 seconds of waiting on a full buffer
// A peer that keeps sending must not hold a closing socket forever: drain at most this many.
constexpr int kMaxDrainReceives = 256;

uint16_t PortNumber(const std::string& port) {
    int value = StrToInt(port);  // EConvertError for text that is no number
    if (value < 0 || value > 65535) throw EConvertError("'" + port + "' is not a valid port number");
    return HostToNetShort(static_cast<uint16_t>(value));
}

}  // namespace

TCustomCGISocket::TCustomCGISocket(TComponent* owner) : TComponent(owner) {
    int rc = WSAStartup(0x0101);
    if (rc == 0)
        FState = ssReady;
    else
        ReportError(rc);
}

// Destructors cannot pass an exception on (it would end the process), so an error handler that
// throws while the socket is released is ignored here, the one place that can catch it.
TCustomCGISocket::~TCustomCGISocket() {
    if (FSocket != INVALID_SOCKET) CloseSocket(FSocket);
    try {
        if (FState != ssNotStarted && WSACleanup() != 0) ReportError(WSAGetLastError());
    } catch (...) {
    }
}

void TCustomCGISocket::ReportError(int code, const std::string& note) {
    FErrorCode = code;
    FErrorNote = note;
    if (OnError) OnError(this, code, ErrorText());
}

bool TCustomCGISocket::ResolveAddress(const std::string& host, const std::string& port, TSockAddrIn& address,
                                      uint64_t deadline) {
    address = TSockAddrIn{};
    address.Family = wsAfInet;
    std::string protocolName;
    if (!GetProtoByNumber(Protocol, protocolName)) {
        ReportError(WSAGetLastError());
        return false;
    }
    if (!GetServByName(port, protocolName, address.Port)) address.Port = PortNumber(port);
    if (InetAddr(host, address.Addr)) return true;
    const uint64_t now = TickCount();
    THostAddress found = LookupHost(host, TLookupFamily::IPv4, deadline > now ? deadline - now : 0);
    if (!found.Found) {
        // The resolver's own failures keep their Winsock texts; only the time-out needs saying.
        ReportError(found.Error, found.TimedOut ? found.Why : std::string());
        return false;
    }
    address.Addr = found.IPv4;
    return true;
}

void TCustomCGISocket::CloseSocketHandle(TSocket& handle, HWND window) {
    if (handle == INVALID_SOCKET) return;
    if (int rc = SelectSocket(handle, window, WM_SOCKET, 0)) {
        ReportError(rc);
        return;
    }
    if (ShutdownSocket(handle, wsSdSend) != 0 && WSAGetLastError() != WSAENOTCONN) {
        ReportError(WSAGetLastError());
        return;
    }
    for (int i = 0; i < kMaxDrainReceives; ++i)
        if (RecvSocket(handle, FReceiveBuffer, sizeof FReceiveBuffer, 0) <= 0) break;
    if (CloseSocket(handle) != 0) {
        ReportError(WSAGetLastError());
        return;
    }
    handle = INVALID_SOCKET;
}

bool TCustomCGISocket::SendOnSocket(TSocket handle, int flags, const std::string& text) {
    size_t sent = 0;
    int failures = 0;
    while (sent < text.size()) {
        size_t chunk = std::min<size_t>(text.size() - sent, 1u << 30);
        int n = SendSocket(handle, text.data() + sent, static_cast<int>(chunk), flags);
        if (n >= 0) {
            sent += static_cast<size_t>(n);
            continue;
        }
        int error = WSAGetLastError();
        if (error != WSAEWOULDBLOCK) {
            ReportError(error);
            return false;
        }
        if (++failures >= kMaxSendFailures || (SendDeadline != 0 && TickCount() >= SendDeadline) || Aborted()) return false;
        // The buffer is full: block until the peer has taken some of it, at most the retry pause.
        WaitSocketWritable(handle, kSendRetryWaitMs);
    }
    return true;
}

std::string TCustomCGISocket::ReceiveOnSocket(TSocket handle, int flags) {
    int n = RecvSocket(handle, FReceiveBuffer, sizeof FReceiveBuffer, flags);
    if (n > 0) return std::string(FReceiveBuffer, static_cast<size_t>(n));
    if (n == 0)
        FPeerClosed = true;
    else if (WSAGetLastError() != WSAEWOULDBLOCK)
        ReportError(WSAGetLastError());
    return {};
}

}  // namespace velmora
