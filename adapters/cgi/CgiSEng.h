// TCGIStdEngine: the engine of a program that a web server starts by the standard CGI convention
// (request in the environment and on standard input, answer on standard output), and its unit start-up.
#pragma once

#include <atomic>
#include <memory>
#include <string>

#include "HttpEng.h"
#include "Streams.h"
#include "StringList.h"

namespace velmora {

class TResidentPoll;
class TThread;
class TTimer;

// State of the CGI request running on the calling thread. In a normal CGI process only the main
// thread has one; a resident server in ServerThreadMode gives each request thread its own.
struct TCGIRequestState {
    std::unique_ptr<TStream> OutputStream;   // where answer bytes go: standard output here
    std::unique_ptr<TStream> InputStream;    // where the body comes from: standard input here
    std::string FormData;                    // url-encoded form data of the request
    // NAME=VALUE lines of a request handed over by another process; null when the variables come
    // from this process's environment.
    std::unique_ptr<TStringList> RequestEnvironment;
    TThread* CurrentRequestThread = nullptr;  // the thread serving a handed-over request, else null
    long long BodyBytesRead = 0;              // body bytes taken from InputStream so far
    std::string RequestFileName;              // the request file this thread queued or serves
    std::string RequestKey;                   // the four hex digits in the name of the client's file
};
TCGIRequestState& CGIRequestState() noexcept;

// True only in the resident server of this program: started by hand (no server software, no
// parameter) or by a client with the parameter "START_SERVER". Decided by the unit's start-up.
extern std::atomic<bool> StdServerProcess;

class TCGIStdEngine : public THttpEngine {
public:
    // Stores the settings and, in a CGI process, serves the request before returning (and with
    // autoTerminate ends the process there). The order of the values is the one the general
    // engine component passes them in.
    TCGIStdEngine(TComponent* owner, bool handStarted, TCGIMode cgiMode, bool autoTerminate,
                  bool bufferedOutput, bool noCache, const std::string& tempDir,
                  const std::string& sessionName, int autoReadLimit, bool autoReadInput,
                  const std::string& autoContentType, bool autoHttpHeader,
                  TRequestErrorEvent onRequestError, TLastExecRequestEvent onLastExecRequest,
                  TExecRequestEvent onExecRequest, TFirstExecRequestEvent onFirstExecRequest);
    ~TCGIStdEngine() override;

    // End the request's streams, and in a normal CGI process the process, when a request is done.
    bool AutoTerminate = true;
    // Started by hand (no server software, no parameter): the engine runs as a resident server.
    bool HandStarted = false;
    // Exists only in a resident server process while it polls; owned by the engine.
    TTimer* PollTimer = nullptr;

    // Runs the request of this process: here, or (resident modes) by handing it over to a
    // resident server that it starts.
    void DispatchRequest();
    // In the resident server: serves the handed-over request of this request file, on this thread
    // (ServerMode) or on a new TCGIRequestThread (ServerThreadMode).
    void DispatchRequest(const std::string& requestFileName);
    // The poll timer's handler: takes the next queued request and serves it; ends the process
    // when the queue file has gone.
    void PollQueue();

    void ExecRequest() override;
    void EndRequest() override;
    TThread* GetRequestThread() override;
    void WriteStatusLine() override;
    void Write(const std::string& s) override;
    void WriteBuffer(const void* buffer, int count) override;
    int ReadClient(void* buffer, int count) override;
    void EndHeaders() override;
    std::string GetVariable(const std::string& name) override;
    std::string GetFormField(const std::string& name, const std::string& def) override;
    std::unique_ptr<TStringList> GetFormFieldNames() override;
    bool IsActive() override;

protected:
    // The request's form data: the body (url-encoded or multipart) or the query string.
    std::string ReadContent();

private:
    void StartServing();
    void HandToNewResidentServer();
    // Opens the request file (variables and body) and the answer file of a handed-over request.
    void OpenRequestFiles(const std::string& requestFileName);
    // Takes a served request out of the queue and deletes its request file.
    void FinishRequest(const std::string& requestFileName);
    // Sends bytes to the thread's output stream when output is direct.
    void SendDirect(const void* data, long count);
    void DiscardUnreadBody();

    std::unique_ptr<TResidentPoll> FPoll;
};

// The engine that request threads of a resident server serve with; null when none exists.
extern std::atomic<TCGIStdEngine*> StdEngine;

// True when this process was started as a standard CGI program: not a library, no Windows CGI
// (CGI_VERSION without "WIN" in any case), and SERVER_SOFTWARE set or this is the resident server.
bool IsStandardCgiStart();

// The unit's start-up, run once before any form exists (see UnitStartup.h in the general engine
// component for the call order). Opens the standard streams of a CGI start. withExchange (the
// program entry's call, once the command line is known): also decides the process's role in the
// resident exchange, makes the queue file in the resident server, and hands a CGI start's request
// to a running resident server, ending the process there. Later calls do nothing.
void CgiSEngStartup(bool withExchange = false);

// The client's half of the standard exchange: queues this process's request (writing its request
// file) when a queue file exists and this is a standard CGI start; false otherwise.
bool EnqueueStandardRequest();
// The start-up's hand-over: queues the request and waits for its answer (ending the process).
// Not queued, it returns to be served here, its body read back from the request file it went
// into; a body that cannot be read back ends the process with an error page.
void HandOverOrRefuse();
// The request file's name fits a queue record; else (logged once) requests are served here.
bool StandardRequestFitsQueue();
// Waits for the queued request's answer and relays it to standard output; ends the process.
[[noreturn]] void WaitForStandardAnswer();

}  // namespace velmora
