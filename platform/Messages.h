// The per-thread message queue: posted messages, window handles as message handlers, timers and
// socket readiness (poll) turned into messages. Waiting blocks in poll with a deadline; it never spins.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>

namespace velmora {

constexpr unsigned WM_CLOSE = 0x0010;
constexpr unsigned WM_QUIT = 0x0012;
constexpr unsigned WM_TIMER = 0x0113;
constexpr unsigned WM_USER = 0x0400;
constexpr unsigned WM_SOCKET = 1025;  // socket notification: WParam socket, LParam event | error << 16

// Socket notification events, as WSAAsyncSelect numbers them.
constexpr long FD_READ = 1, FD_WRITE = 2, FD_OOB = 4, FD_ACCEPT = 8, FD_CONNECT = 16, FD_CLOSE = 32;

// A window handle: a message handler registered with one thread's queue. 0 means the thread itself.
using HWND = uintptr_t;

struct TMsg {
    HWND Window = 0;
    unsigned Message = 0;
    uintptr_t WParam = 0;
    intptr_t LParam = 0;
};

using TMessageHandler = std::function<void(TMsg&)>;

// One queue per thread, made on first use. Post may be called from any thread; everything else
// only from the owning thread.
class TMessageQueue {
public:
    virtual ~TMessageQueue() = default;

    static TMessageQueue& Current();
    static std::shared_ptr<TMessageQueue> CurrentShared();

    // A window: messages posted to the handle are dispatched to the handler on the owning thread.
    virtual HWND AllocateHWnd(TMessageHandler handler) = 0;
    virtual void DeallocateHWnd(HWND window) = 0;

    virtual void Post(HWND window, unsigned message, uintptr_t wParam = 0, intptr_t lParam = 0) = 0;

    // Looks at pending messages (after collecting due timers, signals and ready sockets without
    // blocking) whose number lies in [minMsg, maxMsg] (both 0: any); removes the first when asked.
    virtual bool Peek(TMsg& msg, unsigned minMsg = 0, unsigned maxMsg = 0, bool remove = true) = 0;
    // Sends a message to its window's handler, or a thread message (window 0) to OnThreadMessage.
    virtual void Dispatch(TMsg& msg) = 0;
    // Dispatches everything pending now; does not wait.
    virtual void ProcessMessages() = 0;
    // Blocks until a message is pending, a timer is due or a registered socket is ready, or until
    // timeoutMs passes (-1: no limit). True when something is pending.
    virtual bool WaitMessage(int timeoutMs) = 0;

    // WSAAsyncSelect: report the given FD_ events of socket fd as message `message` to window.
    // events 0 stops the reports. A connect completes as FD_CONNECT, a peer close as FD_CLOSE.
    virtual void SelectSocket(int fd, HWND window, unsigned message, long events) = 0;

    // Window timers: WM_TIMER to window with WParam id every intervalMs; a timer fires on the
    // owning thread only, from Peek/WaitMessage. Setting an existing id restarts it.
    virtual void SetTimer(HWND window, uintptr_t id, unsigned intervalMs) = 0;
    virtual void KillTimer(HWND window, uintptr_t id) = 0;

    // Handler for thread messages (window 0), such as WM_CLOSE from a signal.
    std::function<void(TMsg&)> OnThreadMessage;
};

// SIGTERM, SIGINT and SIGHUP become WM_CLOSE thread messages in the queue of the calling thread.
// The handler only sets an atomic flag that the queue reports.
void InstallCloseSignals();

}  // namespace velmora
