// TNSAPIEngine: the engine of a program that an NSAPI web server has loaded as a library. It
// serves each request through the server's own structures and the functions bound from it.
#pragma once

#include <atomic>
#include <string>

#include "HttpEng.h"
#include "NsapiTypes.h"

namespace velmora {

// The NSAPI request running on the calling thread: set by the service entry, one set per
// server thread.
struct TNsapiRequestState {
    nsapi::pblock* Params = nullptr;     // the parameter block of the service call
    nsapi::Session* Session = nullptr;
    nsapi::Request* Request = nullptr;
    std::string FormData;                // url-encoded form data of the request
    bool BodySuppressed = false;         // the server answers without a body (a HEAD request)
};
TNsapiRequestState& NsapiRequestState() noexcept;

// True once the server has called the service entry: the program runs under an NSAPI server.
extern std::atomic<bool> NsapiActive;

class TNSAPIEngine : public THttpEngine {
public:
    // The settings and handlers are given after construction, as to every library engine.
    explicit TNSAPIEngine(TComponent* owner);
    ~TNSAPIEngine() override;

    void ExecRequest() override;
    void EndRequest() override;
    std::string GetServerProtocol() override;
    std::string GetRequestMethod() override;
    std::string GetScriptName() override;
    std::string GetQueryString() override;
    std::string GetRemoteHost() override;
    std::string GetRemoteAddr() override;
    std::string GetContentType() override;
    int GetContentLength() override;
    std::string GetUserAgent() override;
    std::string GetHttpCookie() override;
    std::string GetExecutablePath() override;
    void Write(const std::string& s) override;
    void WriteBuffer(const void* buffer, int count) override;
    int ReadClient(void* buffer, int count) override;
    void WriteHeader(const std::string& name, const std::string& value) override;
    void EndHeaders() override;
    std::string GetVariable(const std::string& name) override;
    std::string GetFormField(const std::string& name, const std::string& def) override;
    std::unique_ptr<TStringList> GetFormFieldNames() override;
    TLockHandle CreateLock() override;
    void EnterLock(TLockHandle lock) override;
    void LeaveLock(TLockHandle lock) override;
    void FreeLock(TLockHandle lock) override;
    bool IsActive() override;

private:
    std::string ReadRequestData();
    std::string ReadPostedData();
    // The named value of the request's block, or "" when the block does not hold it.
    static std::string Lookup(nsapi::pblock* block, const char* name);
    static bool Find(nsapi::pblock* block, const std::string& name, std::string& value);
    // Sends bytes to the client when output is direct.
    void SendDirect(const void* data, int count);
    // One byte of the request body: 0..255, or -1 at the end of input or on an error.
    static int ReadByte(nsapi::netbuf* buf);
};

// The engine that the service entry serves with; null when none exists.
extern std::atomic<TNSAPIEngine*> NsapiEngine;

// The service function that the server's configuration names (exported by a library build):
// serves one request through NsapiEngine on the server's thread. REQ_PROCEED when the request was
// served, REQ_ABORTED when it could not be (no engine, the server's functions not bound).
extern "C" int NsapiService(nsapi::pblock* pb, nsapi::Session* sn, nsapi::Request* rq) noexcept;

}  // namespace velmora
