// Start-up of the profile-file unit, before any form exists: the per-thread request state, the test
// for a profile-file start, the profile named by the first parameter, the resident server's queue
// file, and the hand-over of a profile to a running resident server.
#include <mutex>

#include "CgiResident.h"
#include "CgiWEng.h"
#include "EnvPaths.h"
#include "Files.h"
#include "System.h"
#include "WindowTitle.h"

namespace velmora {

std::atomic<bool> WinCGIStart{false};
std::atomic<bool> WinServerProcess{false};
std::atomic<TCGIWinEngine*> WinEngine{nullptr};

TCGIWinRequestState& CGIWinRequestState() noexcept {
    thread_local TCGIWinRequestState state;
    return state;
}

namespace {

void RunStartup(bool withExchange) {
    WinCGIStart = !RunsAsLibrary() &&
                  (GetEnv("SERVER_SOFTWARE").empty() || Contains(UpperCase(GetEnv("CGI_VERSION")), "WIN"));
    WinServerProcess = false;
    if (!WinCGIStart) return;
    if (ParamCount() > 0) CGIWinRequestState().IniFileName = AddSystemDrive(ParamStr(1));
    WinServerProcess = ParamCount() == 0;
    if (!withExchange) return;
    if (!ServerData()) ServerData() = std::make_unique<TServerData>();
    // A queue file that no server window heartbeats is a dead server's.
    if (!FindWindowByTitle(ExchangeNames().WindowTitle) && QueueFileExists() && QueueFileStale())
        DeleteFile(ExchangeNames().QueueFile);
    if (WinServerProcess) CreateQueueFile(false);
    else if (EnqueueProfileRequest()) WaitForProfileAnswer();
}

}  // namespace

void CgiWEngStartup(bool withExchange) {
    static std::once_flag once;
    std::call_once(once, RunStartup, withExchange);
}

}  // namespace velmora
