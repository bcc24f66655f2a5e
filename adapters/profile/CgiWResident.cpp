// TCGIWinEngine in the resident modes: a profile start queues the name of its profile and waits
// until the server has written the output file (starting a server first when its settings ask for
// a resident mode and none runs); the server polls the queue and serves each profile it finds.
#include "CgiIniFile.h"
#include "CgiResident.h"
#include "CgiWEng.h"
#include "Files.h"
#include "System.h"

namespace velmora {

namespace {

constexpr unsigned kPollIntervalMs = 60;
constexpr int kLaunchAttempts = 21;
constexpr unsigned kLaunchPauseMs = 200;

bool IsProfileName(const std::string& name) { return !IsStandardRequestName(name); }

// The profile's output file gets the error answer: the web server reads it when this process ends.
void WriteNotQueuedAnswer(const std::string& iniFileName) {
    try {
        const std::string out = TCGIIniFile(iniFileName).ReadString("System", "OUTPUT FILE", "");
        if (out.empty()) return;
        TFileStream file(out, fmCreate);
        file.WriteString(NotQueuedAnswer());
    } catch (const Exception&) {
        // No output file to be had: the web server reports the missing answer itself.
    }
}

}  // namespace

bool ProfileFitsQueue(const std::string& iniFileName) { return ExchangeTakes(iniFileName); }

bool EnqueueProfileRequest() {
    const std::string name = CGIWinRequestState().IniFileName;
    return ProfileFitsQueue(name) && EnqueueRecord(name);
}

void WaitForProfileAnswer() {
    TClientWait how;
    how.LogAbort = false;  // the output file is the web server's to miss
    WaitForAnswer(how);
}

void TCGIWinEngine::HandToNewResidentServer(const std::string& iniFileName) {
    try {
        if (LaunchResidentServer({})) {
            for (int attempt = 0; attempt < kLaunchAttempts; ++attempt) {
                Sleep(kLaunchPauseMs);
                if (EnqueueProfileRequest()) WaitForProfileAnswer();  // does not return
            }
        }
    } catch (...) {
        // An exchange folder that cannot be written: the request was not queued either.
    }
    try {
        WriteLog("CGI server not reached: request not queued");
    } catch (...) {
    }
    WriteNotQueuedAnswer(iniFileName);
    TerminateProgram();
}

void TCGIWinEngine::StartResidentServer() {
    InstallCloseSignals();
    PublishServerTitle();
    FPoll = std::make_unique<TResidentPoll>(this, kPollIntervalMs, [this](TObject*) { PollQueue(); });
    PollTimer = FPoll->Timer();
}

void TCGIWinEngine::PollQueue() {
    if (!PollTimer) return;
    PollTimer->SetEnabled(false);
    try {
        RetryRemovals();
        TQueueRecord record;
        if (FetchRequest(record, IsProfileName)) {
            if (!IsProfileName(record.FileName)) {
                // A standard CGI request came first: this process serves that kind only.
                FPoll->Stop();
                PollTimer = nullptr;
                return;
            }
            if (FileExists(record.FileName)) DispatchRequest(record.FileName);
            else RemoveFromQueue(record.FileName);
        }
    } catch (...) {
        // Errors at the edge of the exchange must not stop the poll.
    }
    if (!QueueFileExists()) EndResidentServer();
    if (PollTimer) PollTimer->SetEnabled(true);
}

void TCGIWinEngine::ServeQueued(const std::string& iniFileName) {
    auto serve = [](TCGIWinEngine* engine, const std::string& name) {
        try {
            if (engine) engine->HandleRequest();
        } catch (...) {
        }
        // The answer is whole before the record leaves the queue: the waiting start ends then.
        CGIWinRequestState().OutputFile.reset();
        try {
            RemoveFromQueue(name);
        } catch (...) {
        }
    };
    if (CGIMode != ServerThreadMode) {
        serve(this, iniFileName);
        return;
    }
    new TCGIRequestThread(iniFileName, [serve](TCGIRequestThread& thread) {
        TCGIWinRequestState& st = CGIWinRequestState();
        st.CurrentRequestThread = &thread;
        st.IniFileName = thread.RequestName;
        ServerData() = std::make_unique<TServerData>();
        serve(WinEngine, thread.RequestName);
        ServerData().reset();
    });
}

}  // namespace velmora
