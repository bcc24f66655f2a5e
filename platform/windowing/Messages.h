// The per-thread message queue: posted messages, window handles as message handlers, timers and
// socket readiness (poll) turned into messages. Waiting blocks in poll with a deadline; it never spins.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>

namespace velmora {

constexpr unsigned WM_CLOSE = 0x0010;
constexpr unsigned WM_QUIT = 0x0012;
constexpr unsigned WM_SYSCOMMAND = 0x0112;
constexpr unsigned WM_TIMER = 0x0113;
constexpr unsigned WM_USER = 0x0400;
constexpr unsigned WM_SOCKET = 1025;  // socket notification: WParam socket, LParam event | error << 16

// Socket notification events, as WSAAsyncSelect numbers them.
constexpr long FD_READ = 1, FD_WRITE = 2, FD_OOB = 4, FD_ACCEPT = 8, FD_CONNECT = 16, FD_CLOSE = 32;

// A window handle: a message handler registered with one thread's queue. 0 means the thread itself.
// Handles are never reused within a process, so a message for a freed window cannot reach a new one.
using HWND = uintptr_t;

struct TMsg {
    HWND Window = 0;
    unsigned Message = 0;
    uintptr_t WParam = 0;
    intptr_t LParam = 0;
};

using TMessageHandler = std::function<void(TMsg&)>;

// The event and error halves of a WM_SOCKET LParam.
inline long SocketEvent(intptr_t lParam) { return static_cast<long>(lParam & 0xFFFF); }
inline int SocketError(intptr_t lParam) { return static_cast<int>((lParam >> 16) & 0xFFFF); }

// One queue per thread, made on first use and kept alive by whoever holds CurrentShared().
// Post may be called from any thread; everything else only from the owning thread.
class TMessageQueue {
public:
    virtual ~TMessageQueue() = default;

    static TMessageQueue& Current();
    static std::shared_ptr<TMessageQueue> CurrentShared();

    // A window: messages posted to the handle are dispatched to the handler on the owning thread.
    // Deallocating drops the window's pending messages, timers and socket registrations; a
    // handler may deallocate its own window (even free the object that owns it) while it runs.
    virtual HWND AllocateHWnd(TMessageHandler handler) = 0;
    virtual void DeallocateHWnd(HWND window) = 0;

    // Any thread. Wakes the owner if it waits.
    virtual void Post(HWND window, unsigned message, uintptr_t wParam = 0, intptr_t lParam = 0) = 0;

    // Looks at pending messages (after collecting due timers, signals and ready sockets without
    // blocking) whose number lies in [minMsg, maxMsg] (both 0: any); removes the first when asked.
    virtual bool Peek(TMsg& msg, unsigned minMsg = 0, unsigned maxMsg = 0, bool remove = true) = 0;
    // Sends a message to its window's handler, or a thread message (window 0) to OnThreadMessage.
    // A message for a window that no longer exists is dropped.
    virtual void Dispatch(TMsg& msg) = 0;
    // Dispatches everything pending now; does not wait.
    virtual void ProcessMessages() = 0;
    // Blocks until a message is pending, a timer is due or a registered socket is ready, or until
    // timeoutMs passes (-1: no limit). True when something is pending (messages already pending
    // count: the caller is expected to process them before waiting again).
    virtual bool WaitMessage(int timeoutMs) = 0;

    // Window timers: WM_TIMER to window with WParam id every intervalMs; a timer fires on the
    // owning thread only, from Peek/WaitMessage. Setting an existing id restarts it. At most one
    // WM_TIMER per timer is pending at a time, and a late timer does not catch up missed ticks.
    virtual void SetTimer(HWND window, uintptr_t id, unsigned intervalMs) = 0;
    virtual void KillTimer(HWND window, uintptr_t id) = 0;

    // Handler for thread messages (window 0), such as WM_CLOSE from a signal.
    std::function<void(TMsg&)> OnThreadMessage;
};

// Posts to the queue of the thread that owns window; any thread. False when no such window.
bool PostMessage(HWND window, unsigned message, uintptr_t wParam = 0, intptr_t lParam = 0);

// WSAAsyncSelect, from any thread: the queue owning window reports the FD_ events of socket fd as
// `message` to window (WParam fd, LParam event | error << 16), while its thread waits or pumps
// messages. Makes fd non-blocking. events 0 stops the reports and drops pending ones for fd;
// do that before closing fd. Returns 0 or a Winsock error code (10038 bad socket, 10022 bad
// window). Selecting again replaces the previous selection.
//   FD_CONNECT: once, when a non-blocking connect completes; its error (SO_ERROR) in the high word.
//   FD_READ:    data is waiting; not reported again until ReenableSocketEvent(fd, FD_READ).
//   FD_CLOSE:   the peer closed (error 0) or reset (10054) the connection, once, and only after
//               the data before the close has been read.
//   FD_WRITE:   writable after connect; again only after ReenableSocketEvent(fd, FD_WRITE).
//   FD_ACCEPT:  a listening socket has a connection; again after ReenableSocketEvent(fd, FD_ACCEPT).
//   FD_OOB is never reported: out-of-band data is read inline.
// Select FD_CONNECT before calling connect: a socket that is not connecting yet reports nothing.
int SelectSocket(int fd, HWND window, unsigned message, long events);

// What Winsock does inside recv, send and accept: the socket layer calls this after every recv
// (FD_READ), after a send that would block (FD_WRITE) and after accept (FD_ACCEPT), whatever the
// call returned. Any thread. Unknown sockets are ignored.
void ReenableSocketEvent(int fd, long event);

// SIGTERM, SIGINT and SIGHUP become WM_CLOSE thread messages in the queue of the calling thread.
// The handler only sets an atomic flag that the queue reports (and wakes it). A second signal
// while the first is still unreported ends the process as if no handler were installed, so a
// process that never looks at its queue can still be stopped. For executables only: a library
// loaded into a web server must leave the server's signals alone.
void InstallCloseSignals();
// Whether a close signal arrived and is still unreported; a thread without a message loop (a
// server's worker) looks here, and polls CloseSignalFd's descriptor to wake when one comes.
bool CloseSignalArrived() noexcept;

}  // namespace velmora
