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

class TThread;
class TTimer;

// State of the CGI request running on the calling thread. In a normal CGI process only the main
// thread has one; a resident server (later) gives each request thread its own.
struct TCGIRequestState {
    std::unique_ptr<TStream> OutputStream;   // where answer bytes go: standard output here
    std::unique_ptr<TStream> InputStream;    // where the body comes from: standard input here
    std::string FormData;                    // url-encoded form data of the request
    // NAME=VALUE lines of a request handed over by another process; null when the variables come
    // from this process's environment.
    std::unique_ptr<TStringList> RequestEnvironment;
    TThread* CurrentRequestThread = nullptr;  // the thread serving a handed-over request, else null
    long long BodyBytesRead = 0;              // body bytes taken from InputStream so far
};
TCGIRequestState& CGIRequestState() noexcept;

// True only in the resident server of this program. The resident modes are not built yet, so
// nothing sets it; every test of it marks a place where they join in.
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
    // Exists only in a resident server process; owned by the engine.
    TTimer* PollTimer = nullptr;

    // Runs the request of this process: here, or (resident modes) by handing it over.
    void DispatchRequest();

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
    // Sends bytes to the thread's output stream when output is direct.
    void SendDirect(const void* data, long count);
    std::string ReadUrlEncodedBody(int length);
    void DiscardUnreadBody();
};

// The engine that request threads of a resident server serve with; null when none exists.
extern std::atomic<TCGIStdEngine*> StdEngine;

// True when this process was started as a standard CGI program: not a library, no Windows CGI
// (CGI_VERSION without "WIN" in any case), and SERVER_SOFTWARE set or this is the resident server.
bool IsStandardCgiStart();

// The unit's start-up, run once before any form exists (see UnitStartup.h in the general engine
// component for the call order). Opens the standard streams of a CGI start and is the place
// where a request is handed to a running resident server. Later calls do nothing.
void CgiSEngStartup();

}  // namespace velmora
