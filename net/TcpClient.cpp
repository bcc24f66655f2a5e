// TTCPClient: a non-blocking TCP connection to RemoteHost:RemotePort whose progress (connected,
// data arrived, closed by the peer) arrives as WM_SOCKET messages on the owning thread's queue.
#include "HSockets.h"

#include "TlsChannel.h"

namespace velmora {

namespace {

constexpr long kConnectEvents = FD_READ | FD_CONNECT | FD_CLOSE;
constexpr long kConnectedEvents = FD_READ | FD_CLOSE;

}  // namespace

TTCPClient::TTCPClient(TComponent* owner) : TCustomCGISocket(owner) {
    Protocol = 6;
    SocketType = wsSockStream;
    FWindow = TMessageQueue::Current().AllocateHWnd([this](TMsg& m) { HandleNotification(m); });
}

TTCPClient::~TTCPClient() {
    // Disconnect may raise the error event; a handler that throws must not end the process.
    // A socket it left open is closed by the base's destructor.
    try {
        Disconnect();
    } catch (...) {
    }
    TMessageQueue::Current().DeallocateHWnd(FWindow);
}

void TTCPClient::Connect(uint64_t deadline) {
    if (FState != ssReady) return;
    FTls.reset();
    FTlsError.clear();
    TSockAddrIn address;
    if (!ResolveAddress(RemoteHost, RemotePort, address, deadline)) return;
    FSocket = CreateSocket(wsAfInet, SocketType, 0);
    if (FSocket == INVALID_SOCKET) {
        ReportError(WSAGetLastError());
        return;
    }
    FPeerClosed = false;
    int error = SelectSocket(FSocket, FWindow, WM_SOCKET, kConnectEvents);
    if (error == 0 && SetSocketOption(FSocket, wsSolSocket, wsSoOobInline, -1) != 0)
        error = WSAGetLastError();
    if (error == 0 && ConnectSocket(FSocket, address) != 0 && WSAGetLastError() != WSAEWOULDBLOCK)
        error = WSAGetLastError();
    if (error == 0) {
        FState = ssConnecting;
        return;
    }
    ReportError(error);
    SelectSocket(FSocket, FWindow, WM_SOCKET, 0);
    CloseSocket(FSocket);
    FSocket = INVALID_SOCKET;
}

void TTCPClient::Disconnect() {
    if (FState == ssNotStarted || FState == ssReady) return;
    EndTls();
    CloseSocketHandle(FSocket, FWindow);
    if (FSocket == INVALID_SOCKET) FState = ssReady;
}

bool TTCPClient::SendText(const std::string& s) {
    if (!FTls) return SendOnSocket(FSocket, 0, s);
    if (!FTls->Write(s)) {
        FailTls(FTls->Error());
        return false;
    }
    return FlushTls();
}

std::string TTCPClient::ReceiveText() {
    // Without a socket there is nothing to receive; asking would only record a bogus error.
    if (FSocket == INVALID_SOCKET) return {};
    return FTls ? ReceiveTls() : ReceiveOnSocket(FSocket, 0);
}

void TTCPClient::HandleNotification(TMsg& message) {
    if (message.Message != WM_SOCKET) return;
    // Ignored between connections, and for a socket that is no longer this client's.
    if (FState == ssReady || FState == ssNotStarted) return;
    if (static_cast<TSocket>(message.WParam) != FSocket) return;
    long event = SocketEvent(message.LParam);
    int error = SocketError(message.LParam);
    switch (event) {
        case FD_READ:
            if (error)
                ReportError(error);
            else if (OnRead)
                OnRead(this, FSocket);
            break;
        case FD_CONNECT: HandleConnectEvent(error); break;
        case FD_CLOSE: HandleCloseEvent(error); break;
        default:
            if (error) ReportError(error);
    }
}

void TTCPClient::HandleConnectEvent(int error) {
    if (error) {
        ReportError(error);
        return;
    }
    if (int rc = SelectSocket(FSocket, FWindow, WM_SOCKET, kConnectedEvents)) {
        ReportError(rc);
        return;
    }
    if (OnConnect) OnConnect(this, FSocket);
    FState = ssConnected;
}

void TTCPClient::HandleCloseEvent(int error) {
    if (error == WSAENETDOWN) {
        ReportError(error);
        return;
    }
    if (OnClose) OnClose(this, FSocket);
    Disconnect();
}

}  // namespace velmora
