// TFastCGIEngine: the engine of a resident program that web servers reach over FastCGI (a listening
// socket as standard input, or an address of its own); each request runs on one thread of a pool.
#pragma once

#include <memory>
#include <string>

#include "HttpEng.h"

struct FCGX_Request;

namespace velmora {

class TListener;

// State of the FastCGI request running on the calling thread (one per pool thread).
struct TFastCGIRequestState {
    FCGX_Request* Request = nullptr;  // the library's request: parameters and the three streams
    std::string FormData;             // url-encoded form data of the request
    long long BodyLength = 0;         // CONTENT_LENGTH as announced (0 when absent or bad)
    long long BodyBytesRead = 0;      // body bytes handed out by ReadClient
    bool BodyBroken = false;          // the input ended (or failed) before the announced length
    bool InputClean = true;           // all input read to its end: the connection may be kept
};
TFastCGIRequestState& FastCGIRequestState() noexcept;

// How this process was started as a FastCGI server: decided once, from the command line
// ("--fastcgi=ADDRESS", "--threads=N") and standard input (a listening socket).
struct TFastCGIStart {
    bool Active = false;     // a FastCGI start: serve requests here, no CGI engine
    std::string Address;     // the address of --fastcgi; empty: the socket on standard input
    int Threads = 0;         // from --threads; 0: the engine's own setting
    std::string Error;       // a bad option: the server reports it and ends
};
const TFastCGIStart& FastCGIStart();

class TFastCGIEngine : public THttpEngine {
public:
    // Stores the settings and, in a FastCGI start, serves requests until a close signal (SIGTERM,
    // SIGINT, SIGHUP): it stops taking connections, lets the requests in flight finish, and ends
    // the process. threads: the size of the pool (1 to 256; --threads overrides it).
    TFastCGIEngine(TComponent* owner, int threads, bool bufferedOutput, bool noCache,
                   const std::string& tempDir, const std::string& sessionName, int autoReadLimit,
                   bool autoReadInput, const std::string& autoContentType, bool autoHttpHeader,
                   TRequestErrorEvent onRequestError, TLastExecRequestEvent onLastExecRequest,
                   TExecRequestEvent onExecRequest, TFirstExecRequestEvent onFirstExecRequest);

    int Threads = 4;

    // Serves the requests of one accepted connection on the calling thread (several, when the
    // web server keeps the connection open); closes it at the end.
    void ServeConnection(int fd);

    void ExecRequest() override;
    void EndRequest() override;
    void WriteStatusLine() override;
    void Write(const std::string& s) override;
    void WriteBuffer(const void* buffer, int count) override;
    int ReadClient(void* buffer, int count) override;
    std::string GetVariable(const std::string& name) override;
    std::string GetFormField(const std::string& name, const std::string& def) override;
    std::unique_ptr<TStringList> GetFormFieldNames() override;
    bool IsActive() override;

private:
    // Runs the pool on listener until a close signal; returns when every thread has ended.
    void Serve(TListener& listener);
    void SendDirect(const void* data, int count);
    // Reads and drops the rest of the request's input, so that the server is not cut off while
    // it still sends; false when the input is longer than any honest body or broken.
    bool DiscardUnreadInput();
};

}  // namespace velmora
