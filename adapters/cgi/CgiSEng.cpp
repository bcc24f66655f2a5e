// TCGIStdEngine's life: construction (which serves the request of a CGI process), dispatch, the
// request events, the end of a request and of the process, and the activity test.
#include "CgiSEng.h"

#include "CgiResident.h"

namespace velmora {

TCGIStdEngine::TCGIStdEngine(TComponent* owner, bool handStarted, TCGIMode cgiMode,
                             bool autoTerminate, bool bufferedOutput, bool noCache,
                             const std::string& tempDir, const std::string& sessionName,
                             int autoReadLimit, bool autoReadInput,
                             const std::string& autoContentType, bool autoHttpHeader,
                             TRequestErrorEvent onRequestError,
                             TLastExecRequestEvent onLastExecRequest,
                             TExecRequestEvent onExecRequest,
                             TFirstExecRequestEvent onFirstExecRequest)
    : THttpEngine(owner) {
    // Streams are opened by the unit start-up; a program entry that skipped it still gets them
    // here, before the request runs.
    CgiSEngStartup();
    HandStarted = handStarted;
    CGIMode = handStarted ? ServerMode : cgiMode;
    AutoTerminate = autoTerminate;
    StoreSettings(bufferedOutput, noCache, tempDir, sessionName, autoReadLimit, autoReadInput,
                  autoContentType, autoHttpHeader, std::move(onRequestError),
                  std::move(onLastExecRequest), std::move(onExecRequest), std::move(onFirstExecRequest));
    StdEngine = this;

    if (Designing() || !IsActive()) return;
    MakeCurrent();
    if (StdServerProcess) {
        StartServing();
        return;
    }
    DispatchRequest();
}

TCGIStdEngine::~TCGIStdEngine() {
    FPoll.reset();
    // A server closed while requests run on their threads lets them finish with this engine.
    WaitForRequestThreads();
    TCGIStdEngine* self = this;
    StdEngine.compare_exchange_strong(self, nullptr);
}

void TCGIStdEngine::DispatchRequest() {
    if (CGIMode != NormalMode && !StdServerProcess && StandardRequestFitsQueue()) {
        HandToNewResidentServer();
        return;
    }
    HandleRequest();
    if (AutoTerminate) TerminateProgram();
}

bool TCGIStdEngine::IsActive() { return IsStandardCgiStart(); }

void TCGIStdEngine::ExecRequest() {
    CGIRequestState().FormData = ReadContent();
    // OnLastExecRequest only for a CGI process's own request: a resident server outlives it.
    RaiseRequestEvents(CGIMode == NormalMode && !StdServerProcess);
}

void TCGIStdEngine::EndRequest() {
    THttpEngine::EndRequest();
    DiscardUnreadBody();
    if (!AutoTerminate) return;
    // Freeing the streams closes them: a closed standard output tells the web server that the
    // answer is complete. A failing close changes nothing for the answer already sent.
    TCGIRequestState& st = CGIRequestState();
    st.OutputStream.reset();
    st.InputStream.reset();
    if (!StdServerProcess) TerminateProgram();
}

TThread* TCGIStdEngine::GetRequestThread() { return CGIRequestState().CurrentRequestThread; }

}  // namespace velmora
