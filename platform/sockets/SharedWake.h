// TSharedWake: a count that any thread raises and that the event loops of a pool of threads watch
// together; each raise lets one taker through, so a job posted to the pool wakes one idle thread.
#pragma once

namespace velmora {

class TSharedWake {
public:
    TSharedWake();
    ~TSharedWake();
    TSharedWake(const TSharedWake&) = delete;
    TSharedWake& operator=(const TSharedWake&) = delete;

    bool Ok() const noexcept { return FFd >= 0; }
    // The descriptor loops watch with TEventLoop::WatchShared: readable while the count is above 0.
    int Fd() const noexcept { return FFd; }
    void Raise() noexcept;
    // Takes one from the count without waiting; false when it was 0 (another thread was first).
    bool TryTake() noexcept;

private:
    int FFd = -1;
};

}  // namespace velmora
