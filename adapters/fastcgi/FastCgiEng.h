// TFastCGIEngine: the engine of a resident program that web servers reach over FastCGI (a listening
// socket as standard input, or an address of its own). An event loop reads the connections; each
// complete request runs on one thread of a pool.
#pragma once

#include <memory>
#include <string>

#include "HttpEng.h"

namespace velmora {

class TListener;
namespace fcgi {
struct TRequest;
class TServer;
}

// State of the FastCGI request running on the calling thread (one per pool thread).
struct TFastCGIRequestState {
    const fcgi::TRequest* Request = nullptr;  // parameters and the whole body, as they arrived
    std::string FormData;                     // url-encoded form data of the request
    long long BodyBytesRead = 0;              // body bytes handed out by ReadClient
    bool BodyBroken = false;                  // the body ended before the announced length
    std::string Out, Err;                     // the answer's two streams, sent when it ends
};
TFastCGIRequestState& FastCGIRequestState() noexcept;

// How this process was started as a FastCGI server: decided once, from the command line
// ("--fastcgi=ADDRESS", "--threads=N", "--site=DIR"), a service manager's hand-over (LISTEN_FDS)
// and standard input (a listening socket).
struct TFastCGIStart {
    bool Active = false;     // a FastCGI start: serve requests here, no CGI engine
    std::string Address;     // the address of --fastcgi; empty: the socket handed over, Fd
    int Fd = 0;              // standard input, or the descriptor a service manager handed over
    int Threads = 0;         // from --threads; 0: the engine's own setting
    std::string Error;       // a bad option: the server reports it and ends
};
const TFastCGIStart& FastCGIStart();

// The limits a FastCGI server holds its peers to (VELMORA.CONF's fastcgi_ keys).
struct TFastCGILimits {
    int MaxConnections = 1024;  // open connections; past it the longest idle one is closed
    int RequestSeconds = 30;    // for a request's head and body to arrive, and for an answer to be read
    int IdleSeconds = 60;       // a kept connection waiting for its next request
    long long BodyMemory = 256LL << 20;  // request body bytes held at once; past it a post is answered 503
};

class TFastCGIEngine : public THttpEngine {
public:
    // Stores the settings and, in a FastCGI start, serves requests until a close signal (SIGTERM,
    // SIGINT, SIGHUP): it stops taking connections, lets the requests in flight finish, and ends
    // the process. threads: the size of the pool (1 to 256; --threads overrides it).
    // limits: see TFastCGILimits.
    TFastCGIEngine(TComponent* owner, int threads, bool bufferedOutput, bool noCache,
                   const std::string& tempDir, const std::string& sessionName, int autoReadLimit,
                   bool autoReadInput, const std::string& autoContentType, bool autoHttpHeader,
                   TRequestErrorEvent onRequestError, TLastExecRequestEvent onLastExecRequest,
                   TExecRequestEvent onExecRequest, TFirstExecRequestEvent onFirstExecRequest,
                   const TFastCGILimits& limits = {});

    int Threads = 4;
    TFastCGILimits Limits;

    // Serves the requests of one connected socket until it is closed, with an event loop on the
    // calling thread and Threads workers (0: the requests run on the calling thread too).
    void ServeConnection(int fd);
    // A server of this engine's requests with its threads and limits, not yet running (Run it on
    // a thread of its own to serve connections handed over with AddConnection).
    std::unique_ptr<fcgi::TServer> NewServer();
    // Runs one complete request on the calling thread; returns its answer's stream records.
    std::string RunRequest(const fcgi::TRequest& request);

    void ExecRequest() override;
    void WriteStatusLine() override;
    void Write(const std::string& s) override;
    void WriteBuffer(const void* buffer, int count) override;
    int ReadClient(void* buffer, int count) override;
    std::string GetVariable(const std::string& name) override;
    std::string GetFormField(const std::string& name, const std::string& def) override;
    std::unique_ptr<TStringList> GetFormFieldNames() override;
    bool IsActive() override;

private:
    // Serves connections of listener until a close signal, or (listener null) the one socket fd
    // until it is closed; false when the loop or its threads could not start.
    bool Serve(TListener* listener, int fd);
    void SendDirect(const void* data, int count);
};

}  // namespace velmora
