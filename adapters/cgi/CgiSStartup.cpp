// Start-up of the standard CGI unit, before any form exists: the per-thread CGI state, the test for
// a CGI start, the process's role in the resident exchange, the standard streams, and the hand-over
// of a request to a running resident server.
#include <mutex>

#include "CgiSEng.h"
#include "CgiResident.h"
#include "EnvPaths.h"
#include "Files.h"
#include "GatheredStream.h"
#include "StdHandles.h"
#include "System.h"
#include "WindowTitle.h"

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

constexpr unsigned kStaleQueuePauseMs = 300;

// Started by hand (no server software, no parameter) or by a client, with exactly "START_SERVER".
bool IsResidentServerStart() {
    if (ParamCount() >= 1) return ParamStr(1) == "START_SERVER";
    return GetEnv("SERVER_SOFTWARE").empty();
}

// Before either role acts: a queue file that no server window heartbeats is a dead server's, and
// with no queue file, nothing in the exchange folder belongs to a living request. Only a
// starting server sweeps: a CGI start that finds no server writes nothing there, and leftovers
// wait for the next server (which also sweeps under the queue's lock). The cheap test comes
// first: with no queue file there is no window to look for.
void ClearDeadServer() {
    if (QueueFileExists() && QueueFileStale() && !FindWindowByTitle(ExchangeNames().WindowTitle)) {
        DeleteFile(ExchangeNames().QueueFile);
        Sleep(kStaleQueuePauseMs);
    }
    if (StdServerProcess && !QueueFileExists()) SweepExchangeFiles();
}

void RunStartup(bool withExchange) {
    if (withExchange) {
        StdServerProcess = IsResidentServerStart();
        if (!ServerData()) ServerData() = std::make_unique<TServerData>();
    }
    if (!IsStandardCgiStart()) return;
    if (withExchange) ClearDeadServer();
    if (StdServerProcess) {
        if (withExchange) CreateQueueFile(true);
        return;
    }
    TCGIRequestState& st = CGIRequestState();
    // The answer is written a header and a line at a time; gathered, it leaves in one write when
    // the request ends and the stream is freed.
    st.OutputStream = std::make_unique<TGatheredStream>(OpenStdOutput());
    st.InputStream = OpenStdInput();
    st.BodyBytesRead = 0;
    IgnoreBrokenPipe();
    // A resident server is running: it serves the request, whatever CGIMode the program's
    // settings hold, and this process ends here.
    if (withExchange) HandOverOrRefuse();
}

}  // namespace

void CgiSEngStartup(bool withExchange) {
    static std::once_flag once;
    std::call_once(once, RunStartup, withExchange);
}

}  // namespace velmora
