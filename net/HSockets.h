// The socket layer of the mail sender: TCustomCGISocket (one socket, name resolution, sending,
// receiving, graceful close, Winsock error numbers and texts) and TTCPClient (a TCP connection
// whose progress arrives as WM_SOCKET messages through the owning thread's message queue).
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "Component.h"
#include "Messages.h"
#include "Sockets.h"

namespace velmora {

class TTlsChannel;
struct TTlsSettings;

using TSocketErrorEvent =
    std::function<void(TComponent* sender, int errorCode, const std::string& errorText)>;
using TSocketNotifyEvent = std::function<void(TComponent* sender, TSocket socket)>;

// Socket states, as the State property numbers them.
enum : uint8_t { ssNotStarted = 0, ssReady = 1, ssConnected = 2, ssConnecting = 4 };

// The text for a Winsock error number; empty for every number without one, 0 included.
std::string SocketErrorText(int code);

// One socket. Socket errors are recorded (ErrorCode, OnError), never thrown. Not thread-safe:
// an instance is used by one thread at a time.
class TCustomCGISocket : public TComponent {
public:
    explicit TCustomCGISocket(TComponent* owner = nullptr);
    ~TCustomCGISocket() override;

    int Protocol = 0;
    int SocketType = wsSockRaw;
    TSocketErrorEvent OnError;

    TSocket Socket() const noexcept { return FSocket; }
    uint8_t State() const noexcept { return FState; }
    int ErrorCode() const noexcept { return FErrorCode; }
    // The note of the last error when it has one (a name lookup that took too long), else the
    // Winsock text of its number.
    std::string ErrorText() const { return FErrorNote.empty() ? SocketErrorText(FErrorCode) : FErrorNote; }

    // Fills an IPv4 address; a host name is looked up by deadline (TickCount milliseconds), else the
    // connection fails with WSAETIMEDOUT and ErrorText says how long the lookup was given.
    // EConvertError when port is neither a service name nor a number.
    bool ResolveAddress(const std::string& host, const std::string& port, TSockAddrIn& address, uint64_t deadline);
    // Graceful close: stop notifications, shut down sending, drain, close; handle becomes -1.
    void CloseSocketHandle(TSocket& handle, HWND window);
    // Sends all of text, waiting while the send buffer is full; false when not all of it went.
    // The waiting ends at SendDeadline (TickCount milliseconds; 0: about 30 seconds per call).
    bool SendOnSocket(TSocket handle, int flags, const std::string& text);
    uint64_t SendDeadline = 0;
    // Set from another thread (a server shutting down): every wait of this socket ends at once, as
    // at its deadline, so a stalled peer cannot hold up the end of the process.
    const std::atomic<bool>* Abort = nullptr;
    bool Aborted() const noexcept { return Abort && Abort->load(); }
    // One non-blocking receive of at most 1024 bytes; empty when nothing has arrived yet or the
    // peer has closed (PeerClosed tells these apart).
    std::string ReceiveOnSocket(TSocket handle, int flags);
    void ReportError(int code, const std::string& note = {});

    // True once a receive has seen the peer's end of the stream on the current connection.
    bool PeerClosed() const noexcept { return FPeerClosed; }

protected:
    void ClearError() noexcept {
        FErrorCode = 0;
        FErrorNote.clear();
    }

    TSocket FSocket = INVALID_SOCKET;
    uint8_t FState = ssNotStarted;
    int FErrorCode = 0;
    std::string FErrorNote;  // said in place of the Winsock text of FErrorCode
    bool FPeerClosed = false;

private:
    char FReceiveBuffer[1024];
};

// A TCP client. Notifications are dispatched on the thread that created the instance, while that
// thread waits in or pumps its message queue; use an instance from that thread only.
class TTCPClient : public TCustomCGISocket {
public:
    explicit TTCPClient(TComponent* owner = nullptr);
    ~TTCPClient() override;

    std::string RemoteHost;
    std::string RemotePort;
    TSocketNotifyEvent OnRead;
    TSocketNotifyEvent OnConnect;
    TSocketNotifyEvent OnClose;

    // Starts a non-blocking connection (only in state ssReady); the result arrives as a message.
    // RemoteHost is looked up by deadline (TickCount milliseconds): a resolver that is slower fails
    // the connection at deadline, as an unanswered connect would.
    void Connect(uint64_t deadline);
    void Disconnect();
    virtual bool SendText(const std::string& s);
    // One receive; empty when nothing has arrived (or there is no connection).
    std::string ReceiveText();
    void HandleNotification(TMsg& message);

    HWND NotificationWindow() const noexcept { return FWindow; }

    // TLS on the open connection, certificate checked against RemoteHost: the handshake runs now,
    // waiting at most until deadline (TickCount), and from then on SendText and ReceiveText carry
    // plaintext until Disconnect. False, with TlsError(), when the handshake failed.
    bool StartTls(const TTlsSettings& settings, uint64_t deadline);
    bool TlsActive() const noexcept { return FTls != nullptr; }
    // Why TLS failed on the current connection; empty when it did not.
    const std::string& TlsError() const noexcept { return FTlsError; }

protected:
    // Blocks in the thread's message queue until a message arrives or TickCount reaches until,
    // then dispatches what arrived (socket notifications among it).
    void WaitForNotification(uint64_t until);
    // After Connect: waits in the queue until the connection is made, fails, or TickCount reaches
    // until; true when connected.
    bool WaitConnected(uint64_t until);

private:
    void HandleConnectEvent(int error);
    void HandleCloseEvent(int error);
    std::string ReceiveTls();
    bool FlushTls();
    void EndTls();
    void FailTls(const std::string& text);

    HWND FWindow = 0;
    std::unique_ptr<TTlsChannel> FTls;
    std::string FTlsError;
};

}  // namespace velmora
