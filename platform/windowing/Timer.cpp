// The timer component on a window timer of its own: every change of Interval, Enabled or OnTimer
// kills the window timer and sets it again, so a new interval counts from the change.
#include "Timer.h"

namespace velmora {

namespace {
constexpr uintptr_t kTimerId = 1;
}

TTimer::TTimer(TComponent* owner) : TComponent(owner), FQueue(TMessageQueue::CurrentShared()) {
    FWindow = FQueue->AllocateHWnd([this](TMsg& msg) { HandleMessage(msg); });
}

TTimer::~TTimer() {
    FQueue->DeallocateHWnd(FWindow);  // also kills the window timer and drops a pending tick
}

void TTimer::SetInterval(unsigned ms) {
    if (ms == FInterval) return;
    FInterval = ms;
    UpdateTimer();
}

void TTimer::SetEnabled(bool enabled) {
    if (enabled == FEnabled) return;
    FEnabled = enabled;
    UpdateTimer();
}

void TTimer::SetOnTimer(TNotifyEvent handler) {
    FOnTimer = std::move(handler);
    UpdateTimer();
}

void TTimer::UpdateTimer() {
    FQueue->KillTimer(FWindow, kTimerId);
    if (FInterval != 0 && FEnabled && FOnTimer) FQueue->SetTimer(FWindow, kTimerId, FInterval);
}

void TTimer::HandleMessage(TMsg& msg) {
    if (msg.Message != WM_TIMER || !FEnabled) return;
    // A copy runs, because the handler may free this timer and with it FOnTimer; nothing of the
    // object is touched after the call.
    TNotifyEvent handler = FOnTimer;
    if (handler) handler(this);
}

}  // namespace velmora
