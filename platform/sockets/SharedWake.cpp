// The count of TSharedWake as an eventfd in semaphore mode: a read takes exactly one, and the
// descriptor stays readable, for the next loop, while more are left.
#include "SharedWake.h"

#include <sys/eventfd.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>

namespace velmora {

TSharedWake::TSharedWake() : FFd(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK | EFD_SEMAPHORE)) {}

TSharedWake::~TSharedWake() {
    if (FFd >= 0) ::close(FFd);
}

void TSharedWake::Raise() noexcept {
    const uint64_t one = 1;
    while (::write(FFd, &one, sizeof one) < 0 && errno == EINTR) {
    }
}

bool TSharedWake::TryTake() noexcept {
    uint64_t one = 0;
    for (;;) {
        if (::read(FFd, &one, sizeof one) == static_cast<ssize_t>(sizeof one)) return true;
        if (errno != EINTR) return false;
    }
}

}  // namespace velmora
