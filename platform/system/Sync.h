// A critical section for engines and applications: a recursive mutex, as a Windows critical
// section may be entered again by the thread that holds it.
#pragma once

#include <mutex>

namespace velmora {

class TCriticalSection {
public:
    void Enter() { FMutex.lock(); }
    void Leave() { FMutex.unlock(); }

private:
    std::recursive_mutex FMutex;
};

}  // namespace velmora
