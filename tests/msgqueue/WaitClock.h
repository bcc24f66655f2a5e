// Time measurements for the queue tests: wall time since a start, and the calling thread's
// processor time, to tell a blocked wait from a spinning one.
#pragma once

#include <sys/resource.h>

#include <chrono>

namespace velmora {

using TestClock = std::chrono::steady_clock;

inline long MsSince(TestClock::time_point start) {
    return static_cast<long>(
        std::chrono::duration_cast<std::chrono::milliseconds>(TestClock::now() - start).count());
}

inline long ThreadCpuMs() {
    rusage ru{};
    getrusage(RUSAGE_THREAD, &ru);
    return (ru.ru_utime.tv_sec + ru.ru_stime.tv_sec) * 1000 + (ru.ru_utime.tv_usec + ru.ru_stime.tv_usec) / 1000;
}

}  // namespace velmora
