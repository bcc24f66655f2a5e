// TFastCGIEngine's life: construction (which runs the server in a FastCGI start), the pool of
// threads that take connections, the run of the requests of one connection, and the end of each.
#include "FastCgiEng.h"

#include <fcgiapp.h>

#include <algorithm>
#include <chrono>
#include <iostream>
#include <thread>
#include <vector>

#include "FastCgiHead.h"
#include "Listener.h"
#include "Messages.h"
#include "StdHandles.h"
#include "System.h"

namespace velmora {

namespace {

// A peer that stops sending or reading for this long loses its connection (one request).
constexpr int kIoTimeoutSeconds = 30;
// A kept connection may wait this long for its next request (longer than the servers' own
// idle limit for kept upstream connections, so that they are the ones to close it).
constexpr int kKeptIdleSeconds = 120;
constexpr int kMaxThreads = 256;
constexpr int kResponderRole = 1;  // FCGI_RESPONDER: the only role this engine answers

// Every line the request logs also goes to the server's error log, through the error stream.
void EchoToErrorStream(FCGX_Request& request, const std::string& line) {
    if (!request.err) return;
    FCGX_PutStr(line.data(), static_cast<int>(line.size()), request.err);
    FCGX_PutStr("\n", 1, request.err);
}

// Waits until the head of the next request has arrived in full and checks it before the library
// reads it. False (the connection is to be closed) for a refused head, a peer that ended its side
// or went quiet before the head was complete, or a failed connection.
bool HeadIsSound(int fd) {
    thread_local std::string buffer(kMaxFastCgiHead + 1, '\0');
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(kIoTimeoutSeconds);
    // Web servers send the head in one piece: the first look finds it, later ones are rare.
    for (int pauseMs = 1;; pauseMs = std::min(pauseMs * 2, 50)) {
        bool peerDone = false;
        const int n = PeekConnection(fd, buffer.data(), static_cast<int>(buffer.size()), peerDone);
        if (n < 0) return false;
        THeadVerdict verdict = CheckFastCgiHead(std::string_view(buffer.data(), static_cast<size_t>(n)));
        if (verdict.Check == THeadCheck::Good) return true;
        if (verdict.Check == THeadCheck::Incomplete && static_cast<size_t>(n) > kMaxFastCgiHead)
            verdict = {THeadCheck::Refused, "request head larger than " + std::to_string(kMaxFastCgiHead) + " bytes"};
        if (verdict.Check == THeadCheck::Refused) {
            WriteLog("FastCGI connection refused: " + verdict.Reason);
            return false;
        }
        if (peerDone || std::chrono::steady_clock::now() > deadline) {
            if (n > 0) WriteLog("FastCGI connection closed: the request head did not arrive in full");
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(pauseMs));
    }
}

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
                               TFirstExecRequestEvent onFirstExecRequest)
    : THttpEngine(owner) {
    Threads = threads;
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
        start.Address.empty() ? TListener::Adopt(0) : TListener::Open(start.Address, error);
    if (!listener) FailToStart(error);
    if (FCGX_Init() != 0) FailToStart("the FastCGI library did not start");
    InstallCloseSignals();
    IgnoreBrokenPipe();
    Serve(*listener);
    listener.reset();  // removes the socket file this process made
    TerminateProgram();
}

bool TFastCGIEngine::IsActive() { return FastCGIStart().Active; }

void TFastCGIEngine::Serve(TListener& listener) {
    std::vector<std::thread> pool;
    for (int i = 0; i < Threads; ++i) {
        try {
            pool.emplace_back([this, &listener] {
                MakeCurrent();
                for (int fd; (fd = listener.Accept(kIoTimeoutSeconds)) >= 0;) {
                    try {
                        ServeConnection(fd);
                    } catch (const std::exception& e) {
                        // Out of memory, say: that connection is lost, the thread serves on.
                        WriteLog(std::string("FastCGI connection lost: ") + e.what());
                    }
                }
                if (!CloseSignalArrived()) WriteLog("FastCGI thread ended: the listening socket failed");
            });
        } catch (const std::exception& e) {
            // Fewer threads than asked for still serve; none at all cannot.
            WriteLog(std::string("FastCGI thread not started: ") + e.what());
            break;
        }
    }
    if (pool.empty()) FailToStart("no thread could be started");
    // New connections are refused from the close signal on; the requests in flight finish.
    WaitReadableOrClose(-1);
    listener.Stop();
    for (std::thread& t : pool) t.join();
}

// The library reads the records of a connection that this engine accepted itself: given the
// descriptor (and told to keep it, so that it is not closed before the first request), it never
// calls accept on a listening socket of its own (-1). Each request's head is checked before the
// library reads it (HeadIsSound). Who closes a connection is decided here, after each request,
// from the server's keep-connection flag.
void TFastCGIEngine::ServeConnection(int fd) {
    FCGX_Init();  // once; later calls only look
    FCGX_Request request;
    FCGX_InitRequest(&request, -1, 0);
    request.ipcFd = fd;
    request.keepConnection = 1;
    TFastCGIRequestState& st = FastCGIRequestState();
    for (bool first = true;; first = false) {
        if (!WaitReadableOrClose(request.ipcFd, (first ? kIoTimeoutSeconds : kKeptIdleSeconds) * 1000)) break;
        if (!HeadIsSound(request.ipcFd)) break;
        // Broken records later on, or a peer that goes away, make the library close the connection.
        if (FCGX_Accept_r(&request) != 0) break;
        const bool serverKeeps = request.keepConnection != 0;
        st = TFastCGIRequestState{};
        st.Request = &request;
        SetRequestLogEcho([&request](const std::string& line) { EchoToErrorStream(request, line); });
        if (request.role == kResponderRole) {
            HandleRequest();
        } else {
            // Answering an authorizer or filter as if it were a form would grant or alter what it
            // asks about; it gets a refusal, and the request is not run.
            WriteLog("FastCGI request of role " + IntToStr(request.role) + " refused: only responders are served");
            FCGX_PutS("Status: 500 Internal Server Error\r\ncontent-type:text/plain\r\n\r\nnot a responder\r\n", request.out);
            EndRequest();
        }
        SetRequestLogEcho({});
        const bool clean = st.InputClean;
        st = TFastCGIRequestState{};
        if (request.ipcFd < 0) return;  // the library closed it after a failed write
        if (!serverKeeps || !clean || CloseSignalArrived()) break;
    }
    if (request.ipcFd >= 0) CloseConnection(request.ipcFd);
    request.ipcFd = -1;
}

void TFastCGIEngine::ExecRequest() {
    TFastCGIRequestState& st = FastCGIRequestState();
    int length = 0;
    st.BodyLength = TryStrToInt(GetVariable("CONTENT_LENGTH"), length) && length > 0 ? length : 0;
    st.FormData = ReadBodyOrQuery();
    // Half a form is not the visitor's form: nothing of it is mailed or answered as received.
    if (st.BodyBroken)
        throw Exception("FastCGI request body ended after " + IntToStr(static_cast<int>(st.BodyBytesRead)) + " of " +
                        IntToStr(static_cast<int>(st.BodyLength)) + " announced bytes");
    // A resident server outlives every request: no request is the last one.
    RaiseRequestEvents(false);
}

// The rest of the input is read first, so that the server has sent everything before the answer
// ends; then the library ends the request (the END_REQUEST record). The connection stays open for
// ServeConnection to decide on.
void TFastCGIEngine::EndRequest() {
    THttpEngine::EndRequest();
    TFastCGIRequestState& st = FastCGIRequestState();
    if (!st.Request) return;
    st.InputClean = DiscardUnreadInput();
    st.Request->keepConnection = 1;
    FCGX_Finish_r(st.Request);
}

}  // namespace velmora
