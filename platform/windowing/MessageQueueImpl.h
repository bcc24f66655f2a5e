// The message queue behind TMessageQueue (private to platform/): one per thread, plus the
// process-wide registry that finds the queue owning a window or watching a socket.
#pragma once

#include <atomic>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <unordered_map>

#include "Messages.h"
#include "SocketWatch.h"
#include "TimerList.h"

namespace velmora {

// Thread affinity: Post, Watch, Unwatch and Reenable from any thread (they take FLock and wake
// the owner); everything else on the owning thread only. Windows and timers are owner-only and
// need no lock; the message list and the socket watch are shared and guarded by FLock.
class TQueue final : public TMessageQueue, public std::enable_shared_from_this<TQueue> {
public:
    TQueue();
    ~TQueue() override;

    HWND AllocateHWnd(TMessageHandler handler) override;
    void DeallocateHWnd(HWND window) override;
    void Post(HWND window, unsigned message, uintptr_t wParam, intptr_t lParam) override;
    bool Peek(TMsg& msg, unsigned minMsg, unsigned maxMsg, bool remove) override;
    void Dispatch(TMsg& msg) override;
    void ProcessMessages() override;
    bool WaitMessage(int timeoutMs) override;
    void SetTimer(HWND window, uintptr_t id, unsigned intervalMs) override;
    void KillTimer(HWND window, uintptr_t id) override;

    void Watch(int fd, HWND window, unsigned message, long events, bool listening);
    // Stops watching fd and drops its notifications that are still pending.
    void Unwatch(int fd);
    void Reenable(int fd, long event);

    // Change notices (TFileWatch), owning thread only: when fd is readable, drain runs; when it
    // reports a relevant change, `message` is posted to window unless one is already pending.
    void WatchChanges(int fd, HWND window, unsigned message, std::function<bool()> drain);
    void UnwatchChanges(int fd);

private:
    struct TChangeWatch {
        HWND Window;
        unsigned Message;
        std::function<bool()> Drain;
    };
    void PostChangeNotice(const TChangeWatch& w);

    // Turns whatever happened since the last look into messages, without blocking. unpark: look
    // again at sockets set aside by an earlier call.
    void Collect(bool unpark);
    // One poll on the wake descriptors and the watched sockets; socket readiness becomes messages.
    void PollOnce(int timeoutMs, bool unpark);
    bool HasPending();
    void WakeFromOtherThread();

    const std::thread::id FOwner;
    const int FWakeFd;
    std::unordered_map<HWND, std::shared_ptr<TMessageHandler>> FWindows;
    TTimerList FTimers;
    std::unordered_map<int, TChangeWatch> FChanges;

    std::mutex FLock;
    std::deque<TMsg> FMessages;
    TSocketWatch FSockets;
};

// Window handles and watched sockets to their queues. Lock order: Registry().Lock before a
// queue's lock, never the other way.
struct TQueueRegistry {
    std::mutex Lock;
    std::unordered_map<HWND, std::weak_ptr<TQueue>> Windows;
    std::unordered_map<int, std::weak_ptr<TQueue>> Sockets;
    std::atomic<HWND> NextWindow{1};
};
TQueueRegistry& Registry();

}  // namespace velmora
