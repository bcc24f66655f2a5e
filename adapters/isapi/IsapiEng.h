// TISAPIEngine: the engine of the program loaded as a library into a web server that speaks ISAPI.
// It serves extension requests (the server's control block) and filter notifications (its context).
#pragma once

#include <atomic>
#include <mutex>
#include <string>

#include "HttpEng.h"
#include "IsapiEvents.h"
#include "IsapiTypes.h"

namespace velmora {

// What the calling server thread is serving; HttpExtensionProc and HttpFilterProc fill it first.
struct TISAPIRequestState {
    EXTENSION_CONTROL_BLOCK* CurrentECB = nullptr;
    THTTP_FILTER_CONTEXT* CurrentFilterContext = nullptr;
    DWORD FilterNotification = 0;
    std::string FormData;               // url-encoded form data of the request
    DWORD PreloadPos = 0;               // preloaded body bytes ReadClient has handed out
    long long BytesToRead = 0;          // body bytes the server did not preload
    long long RequestContentLength = 0;
    std::string CapturedCookie;         // the cookie seen in raw request data by the filter
    // An extension's answer up to the end of its header block, held back so that the server gets
    // the whole block in one WriteClient call (a server may parse headers from the first call only).
    std::string HeldHeader;
    bool HeaderPassed = false;
};
TISAPIRequestState& ISAPIRequestState() noexcept;

class TISAPIEngine : public THttpEngine {
public:
    // Registers itself as the library's engine (IsapiEngine) unless the owner is being designed.
    explicit TISAPIEngine(TComponent* owner);
    ~TISAPIEngine() override;

    THttpExtensionVersionEvent OnHttpExtensionVersion;
    THttpFilterProcEvent OnHttpFilterProc;
    THttpFilterVersionEvent OnHttpFilterVersion;

    void ExecRequest() override;
    void EndRequest() override;
    int GetContentLength() override;
    std::string GetExecutablePath() override;
    void Write(const std::string& s) override;
    void WriteBuffer(const void* buffer, int count) override;
    int ReadClient(void* buffer, int count) override;
    void WriteHeader(const std::string& name, const std::string& value) override;
    std::string GetVariable(const std::string& name) override;
    std::string GetFormField(const std::string& name, const std::string& def) override;
    std::unique_ptr<TStringList> GetFormFieldNames() override;
    bool IsActive() override;

    // Reads the request's form data from the control block: the preloaded bytes, the rest of the
    // body (or the multipart body) and the query string behind them.
    std::string ReadRequestData();
    long long AnnouncedLength();

    // Hands the server whatever answer bytes are still held back.
    void ReleaseHeldHeader();

private:
    // Sends bytes to the client of the current extension request or filter notification.
    void SendToClient(const void* data, DWORD count);
    bool FLoadDone = false;
    std::mutex FLoadLock;
};

// The library's ISAPI engine, used by the entry points; null until one is made.
extern std::atomic<TISAPIEngine*> IsapiEngine;

// The raw request text a filter sees, scanned for form data and the cookie.
struct TRawRequestScan {
    std::string FormData;  // a url-encoded post body in front of the request line's query text
    std::string Cookie;    // the text after "Cookie: " of the last such line, at most 4096 bytes
};
// Reads the request line and, for a post, its header lines up to the blank line, then the body.
TRawRequestScan ScanRawRequest(const char* raw, size_t size);

}  // namespace velmora
