// Start-up of the profile-file unit, before any form exists: the per-thread request state, the test
// for a profile-file start, the profile named by the first parameter, and the point where a request
// goes to a resident server.
#include <mutex>

#include "CgiWEng.h"
#include "EnvPaths.h"
#include "System.h"

namespace velmora {

std::atomic<bool> WinCGIStart{false};
std::atomic<bool> WinServerProcess{false};
std::atomic<TCGIWinEngine*> WinEngine{nullptr};

TCGIWinRequestState& CGIWinRequestState() noexcept {
    thread_local TCGIWinRequestState state;
    return state;
}

namespace {

// HAND-OVER POINT of the resident modes. When a resident server of this program runs, a profile
// start queues its profile there, waits until it has been served and ends the process inside this
// call. No resident server exists yet, so the request is always served by this process.
void HandOverToResidentServer() {}

void RunStartup() {
    WinCGIStart = !RunsAsLibrary() &&
                  (GetEnv("SERVER_SOFTWARE").empty() || Contains(UpperCase(GetEnv("CGI_VERSION")), "WIN"));
    WinServerProcess = false;
    if (!WinCGIStart) return;
    if (ParamCount() > 0) CGIWinRequestState().IniFileName = AddSystemDrive(ParamStr(1));
    WinServerProcess = ParamCount() == 0;
    if (!WinServerProcess) HandOverToResidentServer();
}

}  // namespace

void CgiWEngStartup() {
    static std::once_flag once;
    std::call_once(once, RunStartup);
}

}  // namespace velmora
