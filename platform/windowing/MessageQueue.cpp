// The per-thread message queue: posted messages, windows, timers, close signals and watched
// sockets, and the wait that blocks in poll until one of them has something or the limit passes.
#include "MessageQueueImpl.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <stdexcept>

#include "CloseSignals.h"

namespace velmora {

namespace {

using TClock = std::chrono::steady_clock;

int MakeWakeFd() {
    int fd = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    if (fd < 0) throw std::runtime_error("message queue: eventfd failed");
    return fd;
}

// Rounded up, so a wait never ends just before what it waits for and then polls again at once.
int CeilMs(TClock::duration d) {
    if (d <= TClock::duration::zero()) return 0;
    auto ms = std::chrono::ceil<std::chrono::milliseconds>(d).count();
    return static_cast<int>(std::min<decltype(ms)>(ms, INT_MAX));
}

thread_local std::shared_ptr<TQueue> tQueue;

}  // namespace

TQueueRegistry& Registry() {
    // Never destroyed: queues of threads that end after static destruction still unregister.
    static auto* registry = new TQueueRegistry;
    return *registry;
}

TMessageQueue& TMessageQueue::Current() { return *CurrentShared(); }

std::shared_ptr<TMessageQueue> TMessageQueue::CurrentShared() {
    if (!tQueue) tQueue = std::make_shared<TQueue>();
    return tQueue;
}

TQueue::TQueue() : FOwner(std::this_thread::get_id()), FWakeFd(MakeWakeFd()) {}

TQueue::~TQueue() {
    ForgetCloseSignalQueue(static_cast<TMessageQueue*>(this));
    {
        std::lock_guard<std::mutex> g(Registry().Lock);
        for (const auto& kv : FWindows) Registry().Windows.erase(kv.first);
    }
    close(FWakeFd);
}

HWND TQueue::AllocateHWnd(TMessageHandler handler) {
    HWND window = Registry().NextWindow++;
    FWindows[window] = std::make_shared<TMessageHandler>(std::move(handler));
    std::lock_guard<std::mutex> g(Registry().Lock);
    Registry().Windows[window] = weak_from_this();
    return window;
}

void TQueue::DeallocateHWnd(HWND window) {
    if (!FWindows.erase(window)) return;
    {
        std::lock_guard<std::mutex> g(Registry().Lock);
        Registry().Windows.erase(window);
    }
    FTimers.KillWindow(window);
    std::lock_guard<std::mutex> g(FLock);
    FSockets.RemoveWindow(window);
    std::erase_if(FMessages, [window](const TMsg& m) { return m.Window == window; });
}

void TQueue::Post(HWND window, unsigned message, uintptr_t wParam, intptr_t lParam) {
    {
        std::lock_guard<std::mutex> g(FLock);
        FMessages.push_back(TMsg{window, message, wParam, lParam});
    }
    WakeFromOtherThread();
}

void TQueue::WakeFromOtherThread() {
    // The owner is not waiting while it runs its own code, so only other threads need to wake it.
    if (std::this_thread::get_id() == FOwner) return;
    uint64_t one = 1;
    ssize_t written = write(FWakeFd, &one, sizeof one);
    (void)written;  // a full counter is readable, which is all a wake needs
}

bool TQueue::Peek(TMsg& msg, unsigned minMsg, unsigned maxMsg, bool remove) {
    Collect(true);
    bool any = minMsg == 0 && maxMsg == 0;
    {
        std::lock_guard<std::mutex> g(FLock);
        auto it = std::find_if(FMessages.begin(), FMessages.end(), [&](const TMsg& m) {
            return any || (m.Message >= minMsg && m.Message <= maxMsg);
        });
        if (it == FMessages.end()) return false;
        msg = *it;
        if (remove) FMessages.erase(it);
    }
    if (remove && msg.Message == WM_TIMER) FTimers.Delivered(msg.Window, msg.WParam);
    return true;
}

void TQueue::Dispatch(TMsg& msg) {
    if (msg.Window == 0) {
        if (OnThreadMessage) OnThreadMessage(msg);
        return;
    }
    auto it = FWindows.find(msg.Window);
    if (it == FWindows.end()) return;  // the window is gone
    // Held by a copy, so a handler that deallocates its own window finishes on a live function.
    std::shared_ptr<TMessageHandler> handler = it->second;
    (*handler)(msg);
}

void TQueue::ProcessMessages() {
    TMsg msg;
    while (Peek(msg, 0, 0, true)) Dispatch(msg);
}

bool TQueue::HasPending() {
    std::lock_guard<std::mutex> g(FLock);
    return !FMessages.empty();
}

bool TQueue::WaitMessage(int timeoutMs) {
    const auto start = TClock::now();
    Collect(true);
    for (;;) {
        if (HasPending()) return true;
        const auto now = TClock::now();
        int limit = -1;
        if (timeoutMs >= 0) {
            auto left = start + std::chrono::milliseconds(timeoutMs) - now;
            if (left <= TClock::duration::zero()) return false;
            limit = CeilMs(left);
        }
        if (auto due = FTimers.NextDue()) {
            int untilTimer = CeilMs(*due - now);
            limit = limit < 0 ? untilTimer : std::min(limit, untilTimer);
        }
        PollOnce(limit, false);
        Collect(false);
    }
}

void TQueue::SetTimer(HWND window, uintptr_t id, unsigned intervalMs) {
    FTimers.Set(window, id, intervalMs, TClock::now());
}

void TQueue::KillTimer(HWND window, uintptr_t id) {
    FTimers.Kill(window, id);
    std::lock_guard<std::mutex> g(FLock);
    std::erase_if(FMessages, [&](const TMsg& m) {
        return m.Window == window && m.Message == WM_TIMER && m.WParam == id;
    });
}

void TQueue::Collect(bool unpark) {
    if (IsCloseSignalQueue(static_cast<TMessageQueue*>(this)) && TakeCloseRequest()) Post(0, WM_CLOSE, 0, 0);
    std::vector<TTimerList::TTimerKey> due = FTimers.TakeDue(TClock::now());
    if (!due.empty()) {
        std::lock_guard<std::mutex> g(FLock);
        for (const auto& [window, id] : due) FMessages.push_back(TMsg{window, WM_TIMER, id, 0});
    }
    PollOnce(0, unpark);
}

void TQueue::PollOnce(int timeoutMs, bool unpark) {
    std::vector<pollfd> fds{pollfd{FWakeFd, POLLIN, 0}};
    if (IsCloseSignalQueue(static_cast<TMessageQueue*>(this)) && CloseSignalFd() >= 0) fds.push_back(pollfd{CloseSignalFd(), POLLIN, 0});
    const size_t changes = fds.size();
    for (const auto& kv : FChanges) fds.push_back(pollfd{kv.first, POLLIN, 0});
    const size_t base = fds.size();
    std::vector<uint64_t> gens;
    {
        std::lock_guard<std::mutex> g(FLock);
        if (unpark) FSockets.Unpark();
        FSockets.Fill(fds, gens);
    }
    // Nothing but the wake descriptors and no time to wait: the list already holds whatever a wake
    // announced, and a wake left unread only makes the next blocking poll return at once.
    if (timeoutMs == 0 && fds.size() == base) return;
    if (poll(fds.data(), fds.size(), timeoutMs) <= 0) return;  // timeout, or EINTR: the caller looks again
    if (fds[0].revents & POLLIN) {
        // Wakes are consumed only when there is one (not read blindly before every look): the list
        // holds the news.
        uint64_t count;
        ssize_t got = read(FWakeFd, &count, sizeof count);
        (void)got;
    }
    for (size_t i = changes; i < base; ++i) {
        if (!fds[i].revents) continue;
        auto it = FChanges.find(fds[i].fd);
        if (it != FChanges.end() && it->second.Drain()) PostChangeNotice(it->second);
    }
    std::vector<TSocketNote> notes;
    std::lock_guard<std::mutex> g(FLock);
    FSockets.Process(fds.data() + base, gens.data(), fds.size() - base, notes);
    for (const TSocketNote& n : notes) {
        intptr_t lParam = (n.Event & 0xFFFF) | (static_cast<intptr_t>(n.Error & 0xFFFF) << 16);
        FMessages.push_back(TMsg{n.Window, n.Message, static_cast<uintptr_t>(n.Fd), lParam});
    }
}

void TQueue::Watch(int fd, HWND window, unsigned message, long events, bool listening) {
    {
        std::lock_guard<std::mutex> g(FLock);
        FSockets.Select(fd, window, message, events, listening);
    }
    WakeFromOtherThread();  // so a waiting owner polls the new selection
}

void TQueue::Unwatch(int fd) {
    {
        std::lock_guard<std::mutex> g(FLock);
        HWND window;
        unsigned message;
        if (!FSockets.Remove(fd, window, message)) return;
        // A notification still pending would name a descriptor that may soon be another socket.
        std::erase_if(FMessages, [&](const TMsg& m) {
            return m.Window == window && m.Message == message && m.WParam == static_cast<uintptr_t>(fd);
        });
    }
    WakeFromOtherThread();  // a poll in progress holds the socket open until it returns
}

void TQueue::Reenable(int fd, long event) {
    bool known;
    {
        std::lock_guard<std::mutex> g(FLock);
        known = FSockets.Reenable(fd, event);
    }
    if (known) WakeFromOtherThread();
}

void TQueue::WatchChanges(int fd, HWND window, unsigned message, std::function<bool()> drain) {
    FChanges[fd] = TChangeWatch{window, message, std::move(drain)};
}

void TQueue::UnwatchChanges(int fd) {
    auto it = FChanges.find(fd);
    if (it == FChanges.end()) return;
    const TChangeWatch w = it->second;
    FChanges.erase(it);
    std::lock_guard<std::mutex> g(FLock);
    std::erase_if(FMessages, [&](const TMsg& m) { return m.Window == w.Window && m.Message == w.Message; });
}

// One pending notice says all there is to say: the receiver looks at the file anew anyway.
void TQueue::PostChangeNotice(const TChangeWatch& w) {
    std::lock_guard<std::mutex> g(FLock);
    for (const TMsg& m : FMessages)
        if (m.Window == w.Window && m.Message == w.Message) return;
    FMessages.push_back(TMsg{w.Window, w.Message, 0, 0});
}

}  // namespace velmora
