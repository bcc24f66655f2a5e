// Start-up of the standard CGI unit, before any form exists: the per-thread CGI state, the test for
// a CGI start, the standard streams, and the point where a request goes to a resident server.
#include <mutex>

#include "CgiSEng.h"
#include "EnvPaths.h"
#include "StdHandles.h"
#include "System.h"

namespace velmora {

std::atomic<bool> StdServerProcess{false};
std::atomic<TCGIStdEngine*> StdEngine{nullptr};

TCGIRequestState& CGIRequestState() noexcept {
    thread_local TCGIRequestState state;
    return state;
}

bool IsStandardCgiStart() {
    if (RunsAsLibrary()) return false;
    if (Contains(UpperCase(GetEnv("CGI_VERSION")), "WIN")) return false;
    return !GetEnv("SERVER_SOFTWARE").empty() || StdServerProcess;
}

namespace {

// HAND-OVER POINT of the resident modes. When a resident server of this program runs, a CGI start
// queues its request there, waits for the answer, relays it to standard output and ends the
// process inside this call, whatever CGIMode the main window's settings hold. No resident server
// exists yet, so the request is always served by this process.
void HandOverToResidentServer() {}

void RunStartup() {
    // The resident modes decide the process's role (StdServerProcess) here, before the test below.
    if (!IsStandardCgiStart() || StdServerProcess) return;
    TCGIRequestState& st = CGIRequestState();
    st.OutputStream = OpenStdOutput();
    st.InputStream = OpenStdInput();
    st.BodyBytesRead = 0;
    IgnoreBrokenPipe();
    HandOverToResidentServer();
}

}  // namespace

void CgiSEngStartup() {
    static std::once_flag once;
    std::call_once(once, RunStartup);
}

}  // namespace velmora
