// TFastCGIEngine's life: construction (which runs the server in a FastCGI start), the event loop
// and its pool of workers, and the run of one complete request on a worker.
#include "FastCgiEng.h"

#include <algorithm>
#include <iostream>

#include "FcgiRecords.h"
#include "FcgiServer.h"
#include "Listener.h"
#include "Messages.h"
#include "StdHandles.h"
#include "System.h"

namespace velmora {

namespace {

constexpr int kMaxThreads = 256;

// Stops before the program's exit, with the reason where an operator looks first.
[[noreturn]] void FailToStart(const std::string& why) {
    WriteLog("FastCGI server not started: " + why);
    std::cerr << "velmora: FastCGI server not started: " << why << std::endl;
    ExitProcess(1);
}

}  // namespace

TFastCGIRequestState& FastCGIRequestState() noexcept {
    thread_local TFastCGIRequestState state;
    return state;
}

TFastCGIEngine::TFastCGIEngine(TComponent* owner, int threads, bool bufferedOutput, bool noCache,
                               const std::string& tempDir, const std::string& sessionName,
                               int autoReadLimit, bool autoReadInput,
                               const std::string& autoContentType, bool autoHttpHeader,
                               TRequestErrorEvent onRequestError,
                               TLastExecRequestEvent onLastExecRequest,
                               TExecRequestEvent onExecRequest,
                               TFirstExecRequestEvent onFirstExecRequest, const TFastCGILimits& limits)
    : THttpEngine(owner) {
    Threads = threads;
    Limits = limits;
    StoreSettings(bufferedOutput, noCache, tempDir, sessionName, autoReadLimit, autoReadInput,
                  autoContentType, autoHttpHeader, std::move(onRequestError),
                  std::move(onLastExecRequest), std::move(onExecRequest), std::move(onFirstExecRequest));
    if (Designing() || !IsActive()) return;
    MakeCurrent();
    const TFastCGIStart& start = FastCGIStart();
    if (!start.Error.empty()) FailToStart(start.Error);
    if (start.Threads > 0) Threads = start.Threads;
    Threads = std::clamp(Threads, 1, kMaxThreads);
    std::string error;
    std::unique_ptr<TListener> listener =
        start.Address.empty() ? TListener::Adopt(start.Fd) : TListener::Open(start.Address, error);
    if (!listener) FailToStart(error);
    // Every open connection is a descriptor: the usual 1024 would end below the connection limit.
    const long descriptors = RaiseDescriptorLimit();
    if (descriptors > 0 && descriptors < Limits.MaxConnections + 64L)
        WriteLog("FastCGI server: only " + std::to_string(descriptors) + " descriptors for " +
                 std::to_string(Limits.MaxConnections) + " connections");
    InstallCloseSignals();
    IgnoreBrokenPipe();
    if (!Serve(listener.get(), -1)) FailToStart("the event loop or its threads could not be started");
    listener.reset();  // removes the socket file this process made
    TerminateProgram();
}

bool TFastCGIEngine::IsActive() { return FastCGIStart().Active; }

void TFastCGIEngine::ServeConnection(int fd) {
    if (!Serve(nullptr, fd)) CloseConnection(fd);
}

std::unique_ptr<fcgi::TServer> TFastCGIEngine::NewServer() {
    fcgi::TServerLimits limits;
    limits.Threads = Threads;
    limits.MaxConnections = Limits.MaxConnections;
    limits.RequestSeconds = Limits.RequestSeconds;
    limits.IdleSeconds = Limits.IdleSeconds;
    limits.BodyMemory = Limits.BodyMemory;
    fcgi::TConnectionRules rules;
    rules.MaxConnections = Limits.MaxConnections;
    // The same limit the request's run reads the body by, so that a body kept is a body read.
    rules.BodyLimit = [this](const std::string& contentType) -> long long { return ReadLimitFor(contentType, AutoReadLimit); };
    rules.Log = [](const std::string& line) { WriteLog(line); };
    return std::make_unique<fcgi::TServer>(limits, std::move(rules), [this](fcgi::TRequest& r) { return RunRequest(r); });
}

bool TFastCGIEngine::Serve(TListener* listener, int fd) {
    std::unique_ptr<fcgi::TServer> server = NewServer();
    if (fd >= 0) server->AddConnection(fd);
    return server->Run(listener, listener != nullptr, listener == nullptr);
}

// Every log line of the request also goes to the server's error log, through the error stream.
std::string TFastCGIEngine::RunRequest(const fcgi::TRequest& request) {
    MakeCurrent();
    TFastCGIRequestState& st = FastCGIRequestState();
    st = TFastCGIRequestState{};
    st.Request = &request;
    SetRequestLogEcho([&st](const std::string& line) { st.Err.append(line).append("\n"); });
    HandleRequest();
    SetRequestLogEcho({});
    std::string answer;
    if (!st.Err.empty()) {
        fcgi::AppendStream(answer, fcgi::kStderr, request.Id, st.Err);
        fcgi::AppendRecord(answer, fcgi::kStderr, request.Id, "");
    }
    fcgi::AppendStream(answer, fcgi::kStdout, request.Id, st.Out);
    fcgi::AppendRecord(answer, fcgi::kStdout, request.Id, "");
    st = TFastCGIRequestState{};
    return answer;
}

void TFastCGIEngine::ExecRequest() {
    TFastCGIRequestState& st = FastCGIRequestState();
    st.FormData = ReadBodyOrQuery();
    // Half a form is not the visitor's form: nothing of it is mailed or answered as received.
    if (st.BodyBroken)
        throw Exception("FastCGI request body ended after " + IntToStr(static_cast<int>(st.BodyBytesRead)) + " of " +
                        IntToStr(static_cast<int>(st.Request->ContentLength)) + " announced bytes");
    // A resident server outlives every request: no request is the last one.
    RaiseRequestEvents(false);
}

}  // namespace velmora
