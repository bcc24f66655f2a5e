// TGeneralHttpEngine: the one engine component an application places on its main window. It holds
// the engine settings and events, creates the engine for the server interface at load, and forwards.
#pragma once

#include <memory>
#include <string>

#include "CgiSEng.h"
#include "CgiWEng.h"
#include "FastCgiEng.h"
#include "HttpEng.h"
#include "IsapiEvents.h"

namespace velmora {

// Every forwarding operation reaches the calling thread's current engine (CurrentEngine()). On a
// thread without one (before Loaded, or a thread that serves no request) nothing fails: getters
// give "" (GetContentLength 0, IsSecurePort false), GetFormField gives its default,
// GetFormFieldNames an empty list, writes are dropped, ReadClient reads 0 bytes, CreateLock gives
// a null lock and the lock operations ignore a null lock.
class TGeneralHttpEngine : public TGeneralHttpComponent {
public:
    explicit TGeneralHttpEngine(TComponent* owner);

    // Published settings. Each setter stores the value and, when the calling thread has a current
    // engine, gives that engine the same value.
    bool AutoHttpHeader() const noexcept { return FAutoHttpHeader; }
    void SetAutoHttpHeader(bool value);
    const std::string& AutoContentType() const noexcept { return FAutoContentType; }
    void SetAutoContentType(const std::string& value);
    bool AutoReadInput() const noexcept { return FAutoReadInput; }
    void SetAutoReadInput(bool value);
    int AutoReadLimit() const noexcept { return FAutoReadLimit; }
    void SetAutoReadLimit(int value);
    bool BufferedOutput() const noexcept { return FBufferedOutput; }
    void SetBufferedOutput(bool value);
    const std::string& TempDir() const noexcept { return FTempDir; }
    void SetTempDir(const std::string& value);
    // Reach an engine only when Loaded creates it.
    TCGIMode CGIMode = NormalMode;
    bool CgiAutoTerminate = true;
    // Threads of a FastCGI server's pool (the command line's --threads wins).
    int FastCgiThreads = 4;
    // What a FastCGI server holds its peers to (connections, request and idle time).
    TFastCGILimits FastCgiLimits;
    const std::string& SessionName() const noexcept { return FSessionName; }
    void SetSessionName(const std::string& value);
    bool NoCache() const noexcept { return FNoCache; }
    void SetNoCache(bool value);
    const TExecRequestEvent& OnExecRequest() const noexcept { return FOnExecRequest; }
    void SetOnExecRequest(TExecRequestEvent handler);
    const TFirstExecRequestEvent& OnFirstExecRequest() const noexcept { return FOnFirstExecRequest; }
    void SetOnFirstExecRequest(TFirstExecRequestEvent handler);
    const TLastExecRequestEvent& OnLastExecRequest() const noexcept { return FOnLastExecRequest; }
    void SetOnLastExecRequest(TLastExecRequestEvent handler);
    const TRequestErrorEvent& OnRequestError() const noexcept { return FOnRequestError; }
    void SetOnRequestError(TRequestErrorEvent handler);
    // For the ISAPI engine only; reach it only when Loaded creates it.
    THttpExtensionVersionEvent OnIsapiExtensionVersion;
    THttpFilterProcEvent OnIsapiFilterProc;
    THttpFilterVersionEvent OnIsapiFilterVersion;

    // Hides the owner form and creates the engine for the environment the program started in.
    void Loaded() override;

    // The engines made by Loaded (owned by the owner form); null when not made.
    TCGIStdEngine* CGIStdEngine() const noexcept { return FCGIStdEngine; }
    TCGIWinEngine* CGIWinEngine() const noexcept { return FCGIWinEngine; }
    TFastCGIEngine* FastCGIEngine() const noexcept { return FFastCGIEngine; }
    THttpEngine* ISAPIEngine() const noexcept { return FISAPIEngine; }
    THttpEngine* NSAPIEngine() const noexcept { return FNSAPIEngine; }

    // The process outlives the request it serves: a FastCGI server, a library in the web server,
    // or the resident CGI server (a CGI start ends with its one request).
    bool ServesManyRequests() const noexcept;

    // Forwarding operations, in their slot order (WriteHeader comes before ReadClient here).
    virtual std::string GetServerName();                                          // 1
    virtual std::string GetServerSoftware();                                      // 2
    virtual std::string GetGatewayInterface();                                    // 3
    virtual std::string GetServerProtocol();                                      // 4
    virtual std::string GetServerPort();                                          // 5
    virtual bool IsSecurePort();                                                  // 6
    virtual std::string GetRequestMethod();                                       // 7
    virtual std::string GetPathInfo();                                            // 8
    virtual std::string GetPathTranslated();                                      // 9
    virtual std::string GetScriptName();                                          // 10
    virtual std::string GetQueryString();                                         // 11
    virtual std::string GetRemoteHost();                                          // 12
    virtual std::string GetRemoteAddr();                                          // 13
    virtual std::string GetAuthType();                                            // 14
    virtual std::string GetRemoteUser();                                          // 15
    virtual std::string GetRemoteIdent();                                         // 16
    virtual std::string GetContentType();                                         // 17
    virtual int GetContentLength();                                               // 18
    virtual std::string GetUrl();                                                 // 19
    virtual std::string GetUserAgent();                                           // 20
    virtual std::string GetHttpCookie();                                          // 21
    virtual std::string GetReferer();                                             // 22
    virtual std::string GetExecutablePath();                                      // 23
    virtual void Write(const std::string& s);                                     // 24
    virtual void WriteBuffer(const void* buffer, int count);                      // 25
    virtual void WriteHeader(const std::string& name, const std::string& value);  // 26
    virtual int ReadClient(void* buffer, int count);                              // 27
    virtual void EndHeaders();                                                    // 28
    virtual std::string GetVariable(const std::string& name);                     // 29
    virtual std::string GetFormField(const std::string& name, const std::string& def);  // 30
    virtual std::unique_ptr<TStringList> GetFormFieldNames();                     // 31
    virtual TLockHandle CreateLock();                                             // 32
    virtual void EnterLock(TLockHandle lock);                                     // 33
    virtual void LeaveLock(TLockHandle lock);                                     // 34
    virtual void FreeLock(TLockHandle lock);                                      // 35

private:
    void CreateCGIStdEngine(bool handStarted);
    void CreateCGIWinEngine(bool handStarted);
    void CreateFastCGIEngine();
    // A CGI engine of either kind, given this component's settings and handlers.
    template <class TEngine>
    TEngine* NewCGIEngine(bool handStarted);
    // Hook of the engines that come with later work: where they are made.
    void CreateLibraryEngines();
    // The NSAPI engine's place among the library engines (made before the ISAPI engine).
    void CreateNSAPIEngine();
    // Gives a library engine the settings and request handlers both library engines take.
    void ApplyLibrarySettings(THttpEngine& engine) const;

    bool FAutoHttpHeader = false;
    std::string FAutoContentType;
    bool FAutoReadInput = false;
    int FAutoReadLimit = 0;
    bool FBufferedOutput = false;
    std::string FTempDir;
    std::string FSessionName;
    bool FNoCache = false;
    TExecRequestEvent FOnExecRequest;
    TFirstExecRequestEvent FOnFirstExecRequest;
    TLastExecRequestEvent FOnLastExecRequest;
    TRequestErrorEvent FOnRequestError;

    TCGIStdEngine* FCGIStdEngine = nullptr;
    TCGIWinEngine* FCGIWinEngine = nullptr;
    TFastCGIEngine* FFastCGIEngine = nullptr;
    THttpEngine* FISAPIEngine = nullptr;
    THttpEngine* FNSAPIEngine = nullptr;
};

}  // namespace velmora
