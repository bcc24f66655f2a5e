// Window timers by due time. A timer that fell behind (its thread was busy) fires once and then
// keeps its interval from now on, as window timers do, rather than firing a burst to catch up.
#include "TimerList.h"

#include <algorithm>

namespace velmora {

namespace {
// Shorter intervals are raised to this, as the window system does, so a timer cannot keep its
// thread permanently busy.
constexpr unsigned kMinimumIntervalMs = 10;
}  // namespace

void TTimerList::Set(HWND window, uintptr_t id, unsigned intervalMs, TClock::time_point now) {
    auto interval = std::chrono::milliseconds(std::max(intervalMs, kMinimumIntervalMs));
    for (TTimer& t : FTimers) {
        if (t.Window == window && t.Id == id) {
            t.Interval = interval;
            t.Due = now + interval;
            return;
        }
    }
    FTimers.push_back(TTimer{window, id, interval, now + interval, FNextSeq++, false});
}

void TTimerList::Kill(HWND window, uintptr_t id) {
    std::erase_if(FTimers, [&](const TTimer& t) { return t.Window == window && t.Id == id; });
}

void TTimerList::KillWindow(HWND window) {
    std::erase_if(FTimers, [&](const TTimer& t) { return t.Window == window; });
}

std::vector<TTimerList::TTimerKey> TTimerList::TakeDue(TClock::time_point now) {
    std::vector<TTimer*> due;
    for (TTimer& t : FTimers)
        if (!t.Pending && t.Due <= now) due.push_back(&t);
    std::sort(due.begin(), due.end(), [](const TTimer* a, const TTimer* b) {
        if (a->Due != b->Due) return a->Due < b->Due;
        if (a->Interval != b->Interval) return a->Interval < b->Interval;
        return a->Seq < b->Seq;
    });
    std::vector<TTimerKey> keys;
    for (TTimer* t : due) {
        keys.emplace_back(t->Window, t->Id);
        t->Pending = true;
        t->Due += t->Interval;
        if (t->Due <= now) t->Due = now + t->Interval;
    }
    return keys;
}

void TTimerList::Delivered(HWND window, uintptr_t id) {
    for (TTimer& t : FTimers)
        if (t.Window == window && t.Id == id) t.Pending = false;
}

std::optional<TTimerList::TClock::time_point> TTimerList::NextDue() const {
    std::optional<TClock::time_point> next;
    for (const TTimer& t : FTimers)
        if (!t.Pending && (!next || t.Due < *next)) next = t.Due;
    return next;
}

}  // namespace velmora
