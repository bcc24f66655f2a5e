// TISAPIEngine's request side: construction, the run of one extension request, the request data
// (preloaded bytes, the rest of the body, the query), the server's variables and the form fields.
#include "IsapiEng.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "CgiVariableName.h"
#include "FormData.h"
#include "System.h"

namespace velmora {

std::atomic<TISAPIEngine*> IsapiEngine{nullptr};

namespace {

// The most the server is asked for in one ReadClient call.
constexpr DWORD kReadPiece = 32386;
// The buffer a server variable is first read into; a server that needs more says so, and a
// larger buffer is tried once, up to kLargestVariable.
constexpr DWORD kVariableBuffer = 8193;
constexpr DWORD kLargestVariable = 1 << 20;

// Reads one server variable through ask(name, buffer, size); "" when the server fails.
template <class Ask>
std::string AskServer(const std::string& key, Ask ask) {
    std::string name = key;  // the server takes a writable, zero-terminated name of any length
    std::vector<char> buffer(kVariableBuffer);
    DWORD size = kVariableBuffer;
    if (!ask(name.data(), buffer.data(), &size)) {
        if (size <= kVariableBuffer || size > kLargestVariable) return {};
        buffer.assign(size, '\0');
        if (!ask(name.data(), buffer.data(), &size)) return {};
    }
    if (size == 0) return {};
    size = std::min<DWORD>(size, static_cast<DWORD>(buffer.size()));
    return std::string(buffer.data(), strnlen(buffer.data(), size));
}

std::string Text(const char* s) { return s ? std::string(s) : std::string(); }

// A Windows script path (drive, ":\"): the last folder and the file, with forward slashes.
std::string ScriptPathFromWindowsPath(std::string value) {
    if (value.size() < 3 || value.compare(1, 2, ":\\") != 0) return value;
    int seen = 0;
    for (size_t i = value.size(); i-- > 0;) {
        if (value[i] != '\\') continue;
        value[i] = '/';
        if (++seen == 2) return value.substr(i, 512);
    }
    return value;
}

}  // namespace

TISAPIRequestState& ISAPIRequestState() noexcept {
    thread_local TISAPIRequestState state;
    return state;
}

TISAPIEngine::TISAPIEngine(TComponent* owner) : THttpEngine(owner) {
    if (!Designing()) IsapiEngine = this;
}

TISAPIEngine::~TISAPIEngine() {
    TISAPIEngine* self = this;
    IsapiEngine.compare_exchange_strong(self, nullptr);
}

bool TISAPIEngine::IsActive() { return RunsAsLibrary(); }

int TISAPIEngine::GetContentLength() { return static_cast<int>(ISAPIRequestState().RequestContentLength); }

// The first request hides the window and makes the engine current, once, whichever thread it is on.
void TISAPIEngine::ExecRequest() {
    {
        std::lock_guard<std::mutex> guard(FLoadLock);
        if (!FLoadDone && IsActive()) {
            FLoadDone = true;
            THttpEngine::Loaded();
        }
    }
    MakeCurrent();
    ISAPIRequestState().FormData = ReadRequestData();
    // Concurrent first requests: one raises OnFirstExecRequest, the others wait until it is done.
    RaiseRequestEvents(false);
}

// Whatever the answer held back (an answer without a header block) goes out before the request ends.
void TISAPIEngine::EndRequest() {
    THttpEngine::EndRequest();
    ReleaseHeldHeader();
}

// The body's length as the client announced it. A server that could not preload the body (Apache's
// module, when the client waits for "100 Continue" before sending it) reports a total of 0 (or
// only what it preloaded), though the body is still to come: CONTENT_LENGTH then tells.
long long TISAPIEngine::AnnouncedLength() {
    EXTENSION_CONTROL_BLOCK* ecb = ISAPIRequestState().CurrentECB;
    long long total = ecb ? ecb->cbTotalBytes : 0;
    int announced = 0;
    if (TryStrToInt(GetVariable("CONTENT_LENGTH"), announced) && announced > total) total = announced;
    return total;
}

std::string TISAPIEngine::ReadRequestData() {
    TISAPIRequestState& st = ISAPIRequestState();
    EXTENSION_CONTROL_BLOCK* ecb = st.CurrentECB;
    std::string data;
    st.PreloadPos = 0;
    st.RequestContentLength = AnnouncedLength();
    const long long preloaded = ecb && ecb->lpbData ? ecb->cbAvailable : 0;
    st.BytesToRead = std::max(0LL, st.RequestContentLength - preloaded);
    if (!ecb) return data;
    const bool multipart = Contains(UpperCase(GetVariable("CONTENT_TYPE")), "MULTIPART/FORM-DATA;");
    // The limit bounds the whole body, as under CGI: the program answers a longer one 413.
    const bool tooLong = st.RequestContentLength > ReadLimit();
    if (tooLong && AutoReadInput) NoteBodyOverLimit();
    if (AutoReadInput && !tooLong && st.RequestContentLength > 0) {
        // The preloaded bytes first, then the rest from the server, all through ReadClient.
        data = ReadAnnouncedBody(static_cast<int>(st.RequestContentLength));
    } else if (!multipart && preloaded > 0) {
        data.assign(reinterpret_cast<const char*>(ecb->lpbData), strnlen(reinterpret_cast<const char*>(ecb->lpbData), static_cast<size_t>(preloaded)));
        if (tooLong) return data;  // a plain form runs on what was preloaded, without the query
    }
    std::string query = GetQueryString();
    if (!query.empty()) data = data.empty() ? query : data + "&" + query;
    return data;
}

int TISAPIEngine::ReadClient(void* buffer, int count) {
    TISAPIRequestState& st = ISAPIRequestState();
    EXTENSION_CONTROL_BLOCK* ecb = st.CurrentECB;
    if (count <= 0 || !ecb) return 0;
    char* out = static_cast<char*>(buffer);
    int delivered = 0;
    while (ecb->lpbData && st.PreloadPos < ecb->cbAvailable && delivered < count) out[delivered++] = static_cast<char>(ecb->lpbData[st.PreloadPos++]);
    while (delivered < count) {
        DWORD size = std::min<DWORD>(kReadPiece, static_cast<DWORD>(count - delivered));
        if (!ecb->ReadClient(ecb->ConnID, out + delivered, &size) || size == 0) return -1;
        delivered += static_cast<int>(std::min<DWORD>(size, static_cast<DWORD>(count - delivered)));
    }
    return delivered;
}

std::string TISAPIEngine::GetVariable(const std::string& name) {
    const std::string key = CgiVariableName(name);
    TISAPIRequestState& st = ISAPIRequestState();
    if (EXTENSION_CONTROL_BLOCK* ecb = st.CurrentECB) {
        if (key == "QUERY_STRING") return Text(ecb->lpszQueryString);
        if (key == "PATH_INFO") return Text(ecb->lpszPathInfo);
        if (key == "PATH_TRANSLATED") return Text(ecb->lpszPathTranslated);
        return AskServer(key, [ecb](char* k, void* buf, DWORD* size) { return ecb->GetServerVariable(ecb->ConnID, k, buf, size); });
    }
    if (THTTP_FILTER_CONTEXT* pfc = st.CurrentFilterContext) {
        std::string value = AskServer(key, [pfc](char* k, void* buf, DWORD* size) { return pfc->GetServerVariable(pfc, k, buf, size); });
        // Before the server has parsed the headers, the cookie the raw data carried stands in.
        if (value.empty() && key == "HTTP_COOKIE" && st.FilterNotification == SF_NOTIFY_PREPROC_HEADERS) value = st.CapturedCookie;
        return value;
    }
    return {};
}

std::string TISAPIEngine::GetExecutablePath() { return ScriptPathFromWindowsPath(GetVariable("SCRIPT NAME")); }

std::string TISAPIEngine::GetFormField(const std::string& name, const std::string& def) {
    return FindFormValueIndexed(name, ISAPIRequestState().FormData, def);
}

std::unique_ptr<TStringList> TISAPIEngine::GetFormFieldNames() {
    return ParseFormFieldNames(ISAPIRequestState().FormData);
}

}  // namespace velmora
