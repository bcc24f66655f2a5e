// TTimer: the timer component. OnTimer runs every Interval milliseconds on the thread that made the
// timer, from that thread's message loop, through the timer's own window handle.
#pragma once

#include <memory>

#include "Forms.h"
#include "Messages.h"

namespace velmora {

// Owned by the thread that creates it: set its properties and free it on that thread only. The
// OnTimer handler may disable, re-enable or even free the timer.
class TTimer : public TComponent {
public:
    explicit TTimer(TComponent* owner = nullptr);
    ~TTimer() override;

    unsigned Interval() const noexcept { return FInterval; }
    void SetInterval(unsigned ms);
    bool Enabled() const noexcept { return FEnabled; }
    void SetEnabled(bool enabled);
    const TNotifyEvent& OnTimer() const noexcept { return FOnTimer; }
    void SetOnTimer(TNotifyEvent handler);

private:
    // The window timer runs only while enabled, with a non-zero interval and a handler.
    void UpdateTimer();
    void HandleMessage(TMsg& msg);

    std::shared_ptr<TMessageQueue> FQueue;  // kept, so freeing late (after the thread's end) is safe
    HWND FWindow = 0;
    unsigned FInterval = 1000;
    bool FEnabled = true;
    TNotifyEvent FOnTimer;
};

}  // namespace velmora
