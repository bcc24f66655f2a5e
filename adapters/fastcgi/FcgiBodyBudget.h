// TBodyBudget: the request body bytes a FastCGI server holds in memory at once, one atomic counter
// shared by the loop and the workers; TBodyHold: one request's share, given back when it is gone.
#pragma once

#include <atomic>

namespace velmora::fcgi {

class TBodyBudget {
public:
    explicit TBodyBudget(long long limit) : FLimit(limit) {}
    // Takes bytes from the budget; false (nothing taken) when that would pass the limit.
    bool Take(long long bytes);
    void Give(long long bytes) { FHeld.fetch_sub(bytes, std::memory_order_relaxed); }
    long long Held() const { return FHeld.load(std::memory_order_relaxed); }
    long long Limit() const { return FLimit; }

private:
    const long long FLimit;
    std::atomic<long long> FHeld{0};
};

// Moves with its request from the loop to a worker; no budget: nothing is counted.
class TBodyHold {
public:
    TBodyHold() = default;
    explicit TBodyHold(TBodyBudget* budget) : FBudget(budget) {}
    TBodyHold(TBodyHold&& other) noexcept : FBudget(other.FBudget), FBytes(other.FBytes) { other.FBytes = 0; }
    TBodyHold& operator=(TBodyHold&& other) noexcept;
    TBodyHold(const TBodyHold&) = delete;
    TBodyHold& operator=(const TBodyHold&) = delete;
    ~TBodyHold() { Release(); }

    // Holds bytes more; false when the server's budget has no room for them.
    bool Grow(long long bytes);
    void Release();

private:
    TBodyBudget* FBudget = nullptr;
    long long FBytes = 0;
};

}  // namespace velmora::fcgi
