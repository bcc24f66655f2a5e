// TCGIWinEngine: the engine of a program that a profile-file web server starts (the request in a
// profile file named by the first parameter, a multipart body in a content file, the answer in an
// output file the server reads once the program has ended), and its unit start-up.
#pragma once

#include <atomic>
#include <memory>
#include <string>

#include "CgiIniFile.h"
#include "HttpEng.h"
#include "Streams.h"
#include "StringList.h"

namespace velmora {

class TResidentPoll;
class TThread;
class TTimer;

// State of the profile request running on the calling thread. In a normal process only the main
// thread has one; a resident server gives each request thread its own.
struct TCGIWinRequestState {
    std::string IniFileName;                  // full path of the request's profile
    std::unique_ptr<TCGIIniFile> IniFile;     // the profile, read when the request starts
    std::string OutputFileName;               // full path of the output file, from the profile
    std::unique_ptr<TStream> OutputFile;      // every answer byte goes here; null when none is open
    std::unique_ptr<TStream> ContentFile;     // the body, open only for a multipart request
    std::string MultipartFormData;            // url-encoded form data of a multipart body, else ""
    TThread* CurrentRequestThread = nullptr;  // the thread serving a queued request, else null
};
TCGIWinRequestState& CGIWinRequestState() noexcept;

// Set once by the unit start-up: the process runs under the profile-file convention (not a
// library; SERVER_SOFTWARE empty, or CGI_VERSION holding "WIN" in any case).
extern std::atomic<bool> WinCGIStart;
// True in the resident server of this program: a profile-file start without a parameter.
extern std::atomic<bool> WinServerProcess;

class TCGIWinEngine : public THttpEngine {
public:
    // Stores the settings and, in a profile-file process, serves the request of the first
    // parameter before returning (and with autoTerminate ends the process there). The order of
    // the values is the standard CGI engine's, as the general engine component passes them.
    TCGIWinEngine(TComponent* owner, bool handStarted, TCGIMode cgiMode, bool autoTerminate,
                  bool bufferedOutput, bool noCache, const std::string& tempDir,
                  const std::string& sessionName, int autoReadLimit, bool autoReadInput,
                  const std::string& autoContentType, bool autoHttpHeader,
                  TRequestErrorEvent onRequestError, TLastExecRequestEvent onLastExecRequest,
                  TExecRequestEvent onExecRequest, TFirstExecRequestEvent onFirstExecRequest);
    ~TCGIWinEngine() override;

    // End the process after a request of a normal profile-file process.
    bool AutoTerminate = true;
    // Started by hand (no server software, no parameter): the engine runs as a resident server.
    bool HandStarted = false;
    // Exists only in a resident server process while it polls; owned by the engine.
    TTimer* PollTimer = nullptr;

    // Runs the request of the profile iniFileName: here, or (resident modes) by handing it over.
    // In the resident server: serves a queued profile on this thread (ServerMode) or on a new
    // TCGIRequestThread (ServerThreadMode), then takes it out of the queue.
    void DispatchRequest(const std::string& iniFileName);
    // The poll timer's handler: takes the next queued profile and serves it; ends the process
    // when the queue file has gone.
    void PollQueue();

    void ExecRequest() override;
    void EndRequest() override;
    std::string GetHttpCookie() override;
    TThread* GetRequestThread() override;
    void Write(const std::string& s) override;
    void WriteBuffer(const void* buffer, int count) override;
    int ReadClient(void* buffer, int count) override;
    void WriteStatusLine() override;
    std::string GetVariable(const std::string& name) override;
    std::string GetFormField(const std::string& name, const std::string& def) override;
    std::unique_ptr<TStringList> GetFormFieldNames() override;
    bool IsActive() override;

private:
    // Sends bytes to the thread's output file when output is direct.
    void SendDirect(const void* data, long count);
    // Opens the output file the profile names, without shortening an existing one.
    void OpenOutputFile(TCGIWinRequestState& st);
    // Decodes a multipart body from the content file the profile names.
    void ReadContentFile(TCGIWinRequestState& st);
    // The resident server's start: title and poll timer, then requests from the message loop.
    void StartResidentServer();
    // Starts a resident server, queues this profile there and waits until it has been served.
    void HandToNewResidentServer(const std::string& iniFileName);
    // In the resident server: serves one queued profile and takes it out of the queue.
    void ServeQueued(const std::string& iniFileName);

    std::unique_ptr<TResidentPoll> FPoll;
};

// The engine that request threads of a resident server serve with; null when none exists.
extern std::atomic<TCGIWinEngine*> WinEngine;

// The unit's start-up, run once before any form exists, after the standard CGI unit's (see
// UnitStartup.h in the general engine component): decides WinCGIStart and WinServerProcess and
// takes the profile path from the first parameter. withExchange (the program entry's call): the
// resident server also makes its queue file, and a profile start hands its profile to a running
// resident server, ending the process there. Later calls do nothing.
void CgiWEngStartup(bool withExchange = false);

// The client's half of the profile exchange: queues this process's profile when a queue file
// exists; false otherwise.
bool EnqueueProfileRequest();
// The profile's name fits a queue record; else (logged once) its request is served here.
bool ProfileFitsQueue(const std::string& iniFileName);
// Waits until the queued profile has been served (the answer is in its output file); ends the
// process.
[[noreturn]] void WaitForProfileAnswer();

}  // namespace velmora
