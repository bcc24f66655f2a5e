// THttpEngine's life and the run of one request: construction, Loaded, HandleRequest with its
// failure rules, the request events, session objects, EndRequest, locks and the per-thread state.
#include "HttpEng.h"

#include "EndSignalCleanup.h"
#include "EngineAdaptors.h"
#include "Files.h"
#include "FormData.h"
#include "Sync.h"
#include "System.h"

namespace velmora {

namespace {

// Any fixed three-digit number: the session cookie only carries it.
constexpr int kSessionCodeKey = 417;

// The process-wide lock that serialises whole requests of a library in ServerMode. Made by the
// first request that needs it (a function-local static is built exactly once even when several
// threads arrive together) and never freed, as requests may hold it until the process ends.
TCriticalSection& RequestLock() {
    static TCriticalSection* lock = new TCriticalSection;
    return *lock;
}

// Leaves the request lock on every way out of HandleRequest, including exceptions that are not
// ours and pass through: a lock left held would stop every later request of the server.
class TRequestLockScope {
public:
    explicit TRequestLockScope(bool wanted) : FLock(wanted ? &RequestLock() : nullptr) {
        if (FLock) FLock->Enter();
    }
    ~TRequestLockScope() {
        if (FLock) FLock->Leave();
    }
    TRequestLockScope(const TRequestLockScope&) = delete;
    TRequestLockScope& operator=(const TRequestLockScope&) = delete;

private:
    TCriticalSection* FLock;
};

// Start-up of the engine layer, before any engine exists: the adaptor table and the random
// generator that request numbers and upload file names draw from.
[[maybe_unused]] const bool kEngineLayerReady = [] {
    InstallEngineAdaptors();
    Randomize();
    return true;
}();

// The exception being handled, as the framework's Exception (those are passed on as they are):
// a standard library exception (bad_alloc, length_error, ...) keeps its text, anything else gets
// a plain one, so every failure of a handler ends its request the same way instead of ending the
// process unanswered. Call only inside a catch block.
Exception OtherFailure() {
    try {
        throw;
    } catch (const Exception& e) {
        return e;
    } catch (const std::exception& e) {
        return Exception(e.what());
    } catch (...) {
        return Exception("Unknown exception");
    }
}

}  // namespace

namespace {
TReadLimitRule& ReadLimitRule() {
    static TReadLimitRule rule;
    return rule;
}
}  // namespace

void SetReadLimitRule(TReadLimitRule rule) { ReadLimitRule() = std::move(rule); }

int ReadLimitFor(const std::string& contentType, int autoReadLimit) {
    const TReadLimitRule& rule = ReadLimitRule();
    return rule ? rule(contentType, autoReadLimit) : autoReadLimit;
}

int THttpEngine::ReadLimit() { return ReadLimitFor(GetContentType(), AutoReadLimit); }

TRequestState& RequestState() noexcept {
    thread_local TRequestState state;
    return state;
}

THttpEngine* CurrentEngine() noexcept { return RequestState().CurrentEngine; }

THttpEngine::THttpEngine(TComponent* owner) : TComponent(owner) {
    // The main window only holds the components; it is never shown while the program runs.
    if (!Designing()) Application().ShowMainForm = false;
}

THttpEngine::~THttpEngine() {
    // Leave no dangling current engine behind on the thread that frees the engine.
    if (RequestState().CurrentEngine == this) RequestState().CurrentEngine = nullptr;
}

void THttpEngine::Loaded() {
    TComponent::Loaded();
    if (Designing() || !IsActive()) return;
    if (auto* form = dynamic_cast<TForm*>(Owner())) {
        form->SetWindowState(wsMinimized);
        form->Hide();
    }
    if (Owner()) MakeCurrent();
}

void THttpEngine::MakeCurrent() noexcept { RequestState().CurrentEngine = this; }

bool THttpEngine::IsDirectOutput() const noexcept { return RequestState().DirectOutput; }

void THttpEngine::HandleRequest() {
    TRequestState& st = RequestState();
    st.UploadFiles.reset();
    st.TooManyUploads = false;
    st.TextPartTooLong = false;
    ForgetFormIndex();  // this request's form data may lie where the last one's did
    if (BufferedOutput) {
        st.OutputBuffer = std::make_unique<TMemoryStream>();
        st.DirectOutput = false;
    } else {
        st.DirectOutput = true;
    }
    st.ContentKind = 0;
    if (st.RequestId == 0) st.RequestId = Random(1000);
    {
        TRequestLockScope lock(RunsAsLibrary() && CGIMode == ServerMode);
        try {
            st.CurrentEngine = this;
            st.HeaderSent = false;
            st.StatusLineSent = false;
            st.Status.clear();
            st.ContentType.clear();
            st.ExtraHeaders.clear();
            st.BodyOverLimit = false;
            if (IsActive()) CreateSessionObjects();
            ExecRequest();
            if (AutoHttpHeader && !st.HeaderSent) WriteAutoHeader(AutoContentType, false);
        } catch (const EBodyEndedShort& e) {
            // Logged first: a server that has given up on the client may close the output.
            ReportRequestError(e);
            AnswerBodyEndedShort();
        } catch (const Exception& e) {
            ReportRequestError(e);
        } catch (...) {
            ReportRequestError(OtherFailure());
        }
        if (BufferedOutput) {
            try {
                st.DirectOutput = true;
                FlushOutputBuffer();
            } catch (...) {
                WriteLog("Unhandled exception : " + OtherFailure().Message());
            }
            st.OutputBuffer.reset();
        }
    }
    EndRequest();
    st.RequestId = 0;
}

// The visitor (if still there) learns that the form did not arrive, instead of an empty answer that
// servers turn into a bare 500 or, worse, a blank 200.
void THttpEngine::AnswerBodyEndedShort() {
    TRequestState& st = RequestState();
    if (!AutoHttpHeader || st.HeaderSent) return;
    st.Status = "400 Bad Request";
    st.ContentType = "text/html";
    Write("<html><head><title>Form incomplete</title></head><body><h1>Form incomplete</h1>"
          "<p>The form did not arrive in full and was not processed. Please send it again.</p></body></html>\r\n");
}

void THttpEngine::ReportRequestError(const Exception& e) {
    if (!OnRequestError) {
        WriteLog("Unhandled exception : " + e.Message());
        return;
    }
    // A failing error handler must not skip the flush, the lock release and EndRequest.
    try {
        OnRequestError(this, e);
    } catch (...) {
        WriteLog("Unhandled exception : " + OtherFailure().Message());
    }
}

void THttpEngine::StoreSettings(bool bufferedOutput, bool noCache, const std::string& tempDir,
                                const std::string& sessionName, int autoReadLimit,
                                bool autoReadInput, const std::string& autoContentType,
                                bool autoHttpHeader, TRequestErrorEvent onRequestError,
                                TLastExecRequestEvent onLastExecRequest,
                                TExecRequestEvent onExecRequest,
                                TFirstExecRequestEvent onFirstExecRequest) {
    BufferedOutput = bufferedOutput;
    NoCache = noCache;
    TempDir = tempDir;
    SessionName = sessionName;
    AutoReadLimit = autoReadLimit;
    AutoReadInput = autoReadInput;
    AutoContentType = autoContentType;
    AutoHttpHeader = autoHttpHeader;
    OnRequestError = std::move(onRequestError);
    OnLastExecRequest = std::move(onLastExecRequest);
    OnExecRequest = std::move(onExecRequest);
    OnFirstExecRequest = std::move(onFirstExecRequest);
}

void THttpEngine::RaiseRequestEvents(bool withLast) {
    if (OnFirstExecRequest) {
        std::lock_guard<std::mutex> guard(FFirstRequestLock);
        if (!FFirstRequestDone) {
            FFirstRequestDone = true;
            OnFirstExecRequest(this);
        }
    }
    if (OnExecRequest) OnExecRequest(this);
    if (withLast && OnLastExecRequest) OnLastExecRequest(this);
}

void THttpEngine::CreateSessionObjects() {
    TRequestState& st = RequestState();
    st.SessionCookie = std::make_unique<THttpCookie>();
    st.SessionCookie->CookieName = SessionName;
    st.SessionCookie->Coded = true;
    st.SessionCookie->CodeKey = kSessionCodeKey;
    st.SessionVariables = std::make_unique<TStringList>();
}

void THttpEngine::EndRequest() {
    TRequestState& st = RequestState();
    if (st.UploadFiles) {
        for (const std::string& path : *st.UploadFiles) {
            if (FileExists(path)) DeleteFile(path);
            ForgetOnEndSignal(path);
        }
        st.UploadFiles.reset();
    }
    st.SessionCookie.reset();
    st.SessionVariables.reset();
}

TThread* THttpEngine::GetRequestThread() { return nullptr; }

int THttpEngine::ReadClient(void*, int) { return 0; }

TLockHandle THttpEngine::CreateLock() { return new TCriticalSection; }

void THttpEngine::EnterLock(TLockHandle lock) {
    if (lock) static_cast<TCriticalSection*>(lock)->Enter();
}

void THttpEngine::LeaveLock(TLockHandle lock) {
    if (lock) static_cast<TCriticalSection*>(lock)->Leave();
}

void THttpEngine::FreeLock(TLockHandle lock) { delete static_cast<TCriticalSection*>(lock); }

}  // namespace velmora
