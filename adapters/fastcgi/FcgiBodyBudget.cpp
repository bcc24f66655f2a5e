// The body budget's counter: taken optimistically and given back at once when it overshoots, so a
// request's growth costs one atomic operation and never a lock.
#include "FcgiBodyBudget.h"

namespace velmora::fcgi {

bool TBodyBudget::Take(long long bytes) {
    if (FHeld.fetch_add(bytes, std::memory_order_relaxed) + bytes <= FLimit) return true;
    Give(bytes);
    return false;
}

TBodyHold& TBodyHold::operator=(TBodyHold&& other) noexcept {
    if (this != &other) {
        Release();
        FBudget = other.FBudget;
        FBytes = other.FBytes;
        other.FBytes = 0;
    }
    return *this;
}

bool TBodyHold::Grow(long long bytes) {
    if (FBudget && !FBudget->Take(bytes)) return false;
    FBytes += bytes;
    return true;
}

void TBodyHold::Release() {
    if (FBudget && FBytes > 0) FBudget->Give(FBytes);
    FBytes = 0;
}

}  // namespace velmora::fcgi
