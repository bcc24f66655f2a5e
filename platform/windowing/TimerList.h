// The window timers of one message queue (private to the queue): when each is due next, and which
// are due now, earliest first. Owner-thread only, so no lock.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <utility>
#include <vector>

#include "Messages.h"

namespace velmora {

class TTimerList {
public:
    using TClock = std::chrono::steady_clock;
    using TTimerKey = std::pair<HWND, uintptr_t>;

    void Set(HWND window, uintptr_t id, unsigned intervalMs, TClock::time_point now);
    void Kill(HWND window, uintptr_t id);
    void KillWindow(HWND window);
    // The timers due at now with no WM_TIMER pending, earliest due first (ties: shorter interval,
    // then older timer). They count as pending until Delivered, and their next tick is scheduled.
    std::vector<TTimerKey> TakeDue(TClock::time_point now);
    // The timer's WM_TIMER has left the queue.
    void Delivered(HWND window, uintptr_t id);
    // The earliest due time among timers that can fire (none pending).
    std::optional<TClock::time_point> NextDue() const;

private:
    struct TTimer {
        HWND Window;
        uintptr_t Id;
        TClock::duration Interval;
        TClock::time_point Due;
        uint64_t Seq;
        bool Pending;
    };
    std::vector<TTimer> FTimers;
    uint64_t FNextSeq = 0;
};

}  // namespace velmora
