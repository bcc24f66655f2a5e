// TCGIWinEngine's life: construction (which serves the request of a profile-file process),
// dispatch, the run of one request over its profile, the end of a request, and the activity test.
#include "CgiWEng.h"

#include "CgiResident.h"

#include "System.h"

namespace velmora {

TCGIWinEngine::TCGIWinEngine(TComponent* owner, bool handStarted, TCGIMode cgiMode,
                             bool autoTerminate, bool bufferedOutput, bool noCache,
                             const std::string& tempDir, const std::string& sessionName,
                             int autoReadLimit, bool autoReadInput,
                             const std::string& autoContentType, bool autoHttpHeader,
                             TRequestErrorEvent onRequestError,
                             TLastExecRequestEvent onLastExecRequest,
                             TExecRequestEvent onExecRequest,
                             TFirstExecRequestEvent onFirstExecRequest)
    : THttpEngine(owner) {
    // A program entry that skipped the unit start-up still gets its decisions here.
    CgiWEngStartup();
    WinEngine = this;
    HandStarted = handStarted;
    CGIMode = handStarted ? ServerMode : cgiMode;
    AutoTerminate = autoTerminate;
    StoreSettings(bufferedOutput, noCache, tempDir, sessionName, autoReadLimit, autoReadInput,
                  autoContentType, autoHttpHeader, std::move(onRequestError),
                  std::move(onLastExecRequest), std::move(onExecRequest), std::move(onFirstExecRequest));

    if (Designing() || !IsActive()) return;
    MakeCurrent();
    if (WinServerProcess) {
        StartResidentServer();
        return;
    }
    DispatchRequest(CGIWinRequestState().IniFileName);
}

TCGIWinEngine::~TCGIWinEngine() {
    FPoll.reset();
    WaitForRequestThreads();
    TCGIWinEngine* self = this;
    WinEngine.compare_exchange_strong(self, nullptr);
}

void TCGIWinEngine::DispatchRequest(const std::string& iniFileName) {
    TCGIWinRequestState& st = CGIWinRequestState();
    st.IniFileName = iniFileName;
    st.MultipartFormData.clear();
    if (WinServerProcess) {
        ServeQueued(iniFileName);
        return;
    }
    if (CGIMode != NormalMode && ProfileFitsQueue(iniFileName)) {
        HandToNewResidentServer(iniFileName);
        return;
    }
    HandleRequest();
    if (AutoTerminate) TerminateProgram();
}

bool TCGIWinEngine::IsActive() { return WinCGIStart; }

// A profile without an output file gets no events and no answer; a failure anywhere (profile,
// output file, content file, handlers) goes on to HandleRequest, which logs or reports it.
void TCGIWinEngine::ExecRequest() {
    TCGIWinRequestState& st = CGIWinRequestState();
    st.IniFile = std::make_unique<TCGIIniFile>(st.IniFileName);
    const TCGIIniFile& profile = *st.IniFile;
    if (profile.IgnoredLines() > 0)
        WriteLog("Profile " + st.IniFileName + ": " + IntToStr(profile.IgnoredLines()) + " line(s) over " +
                 IntToStr(TCGIIniFile::MaxLineLength) + " characters ignored");
    if (profile.IgnoredSections() > 0)
        WriteLog("Profile " + st.IniFileName + ": " + IntToStr(profile.IgnoredSections()) +
                 " section(s) beyond the first " + IntToStr(TCGIIniFile::MaxSections) + " ignored");
    st.OutputFileName = profile.ReadString("System", "OUTPUT FILE", "");
    if (st.OutputFileName.empty()) return;
    OpenOutputFile(st);
    try {
        ReadContentFile(st);
        // OnLastExecRequest only outside the resident server, whose process outlives the request.
        RaiseRequestEvents(!WinServerProcess);
    } catch (...) {
        st.ContentFile.reset();
        if (AutoTerminate) st.OutputFile.reset();
        throw;
    }
}

// Closing the output file completes the answer the server reads; the content file and the profile
// go too, so a resident server holds nothing of a finished request.
void TCGIWinEngine::EndRequest() {
    THttpEngine::EndRequest();
    TCGIWinRequestState& st = CGIWinRequestState();
    st.OutputFile.reset();
    st.ContentFile.reset();
    st.IniFile.reset();
}

TThread* TCGIWinEngine::GetRequestThread() { return CGIWinRequestState().CurrentRequestThread; }

}  // namespace velmora
