// TGeneralHttpEngine's settings and Loaded: the setters that reach the current engine, and the
// choice of the engines by the environment the program was started in.
#include "GenEng.h"

#include "EnvPaths.h"
#include "Forms.h"
#include "IsapiEng.h"
#include "NSapiEng.h"
#include "System.h"

namespace velmora {

TGeneralHttpEngine::TGeneralHttpEngine(TComponent* owner) : TGeneralHttpComponent(owner) {
    FAutoReadInput = true;
    FAutoReadLimit = kDefaultAutoReadLimit;
    SetAutoHttpHeader(true);
    CgiAutoTerminate = true;
    SetAutoContentType("text/html");
    SetSessionName("DefaultSession");
}

namespace {

// Stores value into the component's field and into the same setting of the calling thread's
// current engine, if it has one.
template <class T>
void StoreAndForward(T& own, const T& value, T THttpEngine::*field) {
    own = value;
    if (THttpEngine* engine = CurrentEngine()) engine->*field = value;
}

}  // namespace

void TGeneralHttpEngine::SetAutoHttpHeader(bool value) {
    StoreAndForward(FAutoHttpHeader, value, &THttpEngine::AutoHttpHeader);
}
void TGeneralHttpEngine::SetAutoContentType(const std::string& value) {
    StoreAndForward(FAutoContentType, value, &THttpEngine::AutoContentType);
}
void TGeneralHttpEngine::SetAutoReadInput(bool value) {
    StoreAndForward(FAutoReadInput, value, &THttpEngine::AutoReadInput);
}
void TGeneralHttpEngine::SetAutoReadLimit(int value) {
    StoreAndForward(FAutoReadLimit, value, &THttpEngine::AutoReadLimit);
}
void TGeneralHttpEngine::SetBufferedOutput(bool value) {
    StoreAndForward(FBufferedOutput, value, &THttpEngine::BufferedOutput);
}
void TGeneralHttpEngine::SetTempDir(const std::string& value) {
    StoreAndForward(FTempDir, value, &THttpEngine::TempDir);
}
void TGeneralHttpEngine::SetSessionName(const std::string& value) {
    StoreAndForward(FSessionName, value, &THttpEngine::SessionName);
}
void TGeneralHttpEngine::SetNoCache(bool value) {
    StoreAndForward(FNoCache, value, &THttpEngine::NoCache);
}
void TGeneralHttpEngine::SetOnExecRequest(TExecRequestEvent handler) {
    StoreAndForward(FOnExecRequest, handler, &THttpEngine::OnExecRequest);
}
void TGeneralHttpEngine::SetOnFirstExecRequest(TFirstExecRequestEvent handler) {
    StoreAndForward(FOnFirstExecRequest, handler, &THttpEngine::OnFirstExecRequest);
}
void TGeneralHttpEngine::SetOnLastExecRequest(TLastExecRequestEvent handler) {
    StoreAndForward(FOnLastExecRequest, handler, &THttpEngine::OnLastExecRequest);
}
void TGeneralHttpEngine::SetOnRequestError(TRequestErrorEvent handler) {
    StoreAndForward(FOnRequestError, handler, &THttpEngine::OnRequestError);
}

void TGeneralHttpEngine::Loaded() {
    TGeneralHttpComponent::Loaded();
    // The main window only holds the components; it is never shown.
    Application().ShowMainForm = false;
    if (auto* form = dynamic_cast<TForm*>(Owner())) {
        form->SetWindowState(wsMinimized);
        form->Hide();
    }
    if (Designing()) return;
    if (RunsAsLibrary()) {
        CreateLibraryEngines();
        return;
    }
    if (FastCGIStart().Active) {
        CreateFastCGIEngine();
        return;
    }
    const std::string serverSoftware = GetEnv("SERVER_SOFTWARE");  // "" for a value with "ZB"
    const bool handStarted = serverSoftware.empty() && ParamCount() == 0;
    if (!CurrentEngine()) {
        if (handStarted)
            CreateCGIStdEngine(true);
        else if (!serverSoftware.empty() && !Contains(UpperCase(GetEnv("CGI_VERSION")), "WIN"))
            CreateCGIStdEngine(false);
    }
    if (!CurrentEngine() || handStarted) CreateCGIWinEngine(handStarted);
}

template <class TEngine>
TEngine* TGeneralHttpEngine::NewCGIEngine(bool handStarted) {
    return new TEngine(Owner(), handStarted, CGIMode, CgiAutoTerminate, FBufferedOutput, FNoCache,
                       FTempDir, FSessionName, FAutoReadLimit, FAutoReadInput, FAutoContentType,
                       FAutoHttpHeader, FOnRequestError, FOnLastExecRequest, FOnExecRequest,
                       FOnFirstExecRequest);
}

// In a CGI process the engine serves the request inside its constructor and, with
// CgiAutoTerminate, ends the process there.
void TGeneralHttpEngine::CreateCGIStdEngine(bool handStarted) {
    FCGIStdEngine = NewCGIEngine<TCGIStdEngine>(handStarted);
}

// The profile-file engine: for a profile-file start, a start with parameters, and a process
// started by hand. It serves a profile the same way, inside its constructor.
void TGeneralHttpEngine::CreateCGIWinEngine(bool handStarted) {
    FCGIWinEngine = NewCGIEngine<TCGIWinEngine>(handStarted);
}

// A FastCGI start: the engine serves requests from inside its constructor until a close signal,
// then ends the process. Like the library engines it keeps NormalMode: no request lock.
void TGeneralHttpEngine::CreateFastCGIEngine() {
    FFastCGIEngine = new TFastCGIEngine(Owner(), FastCgiThreads, FBufferedOutput, FNoCache, FTempDir, FSessionName,
                                        FAutoReadLimit, FAutoReadInput, FAutoContentType, FAutoHttpHeader,
                                        FOnRequestError, FOnLastExecRequest, FOnExecRequest, FOnFirstExecRequest,
                                        FastCgiLimits);
}

// Loaded into a web server's process: the NSAPI engine, then the ISAPI engine. Both keep
// NormalMode whatever CGIMode says, so no request lock is taken and the server's threads run
// requests side by side; no CGI engine is made in a library.
void TGeneralHttpEngine::CreateLibraryEngines() {
    CreateNSAPIEngine();
    auto* isapi = new TISAPIEngine(Owner());
    ApplyLibrarySettings(*isapi);
    isapi->OnHttpExtensionVersion = OnIsapiExtensionVersion;
    isapi->OnHttpFilterProc = OnIsapiFilterProc;
    isapi->OnHttpFilterVersion = OnIsapiFilterVersion;
    FISAPIEngine = isapi;
}

// Made before the ISAPI engine; which of the two serves is decided by the entry point the server
// calls, each of which makes its own engine current on the calling thread.
void TGeneralHttpEngine::CreateNSAPIEngine() {
    auto* nsapi = new TNSAPIEngine(Owner());
    ApplyLibrarySettings(*nsapi);
    FNSAPIEngine = nsapi;
}

void TGeneralHttpEngine::ApplyLibrarySettings(THttpEngine& engine) const {
    engine.BufferedOutput = FBufferedOutput;
    engine.NoCache = FNoCache;
    engine.TempDir = FTempDir;
    engine.SessionName = FSessionName;
    engine.AutoReadLimit = FAutoReadLimit;
    engine.AutoReadInput = FAutoReadInput;
    engine.AutoContentType = FAutoContentType;
    engine.AutoHttpHeader = FAutoHttpHeader;
    engine.OnRequestError = FOnRequestError;
    engine.OnLastExecRequest = FOnLastExecRequest;
    engine.OnExecRequest = FOnExecRequest;
    engine.OnFirstExecRequest = FOnFirstExecRequest;
}

bool TGeneralHttpEngine::ServesManyRequests() const noexcept {
    // Asked of the start, not of the engines made: a FastCGI engine serves from its constructor on.
    return FastCGIStart().Active || RunsAsLibrary() || StdServerProcess || WinServerProcess;
}

}  // namespace velmora
