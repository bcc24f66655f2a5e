// IsapiHost: the server callbacks over one request (variables from a map, the body in pieces of at
// most 1000 bytes per ReadClient, written bytes and a redirect collected) and the entry calls.
#include "IsapiHost.h"

#include <dlfcn.h>

#include <algorithm>
#include <cstring>
#include <stdexcept>

namespace velmora::test {

namespace {

// One request or notification in progress: what the callbacks read and fill.
struct Call {
    const HostRequest* Request = nullptr;
    const std::map<std::string, std::string>* Variables = nullptr;
    size_t BodyPos = 0;
    HostAnswer Answer;
};

BOOL GiveVariable(const Call& call, const char* name, void* buffer, DWORD* size) {
    std::string key = name;
    std::string value;
    if (call.Request && key == "CONTENT_TYPE") value = call.Request->ContentType;
    else if (call.Request && key == "REQUEST_METHOD") value = call.Request->Method;
    else if (auto it = call.Variables->find(key); it != call.Variables->end()) value = it->second;
    else return 0;
    if (value.size() + 1 > *size) {
        *size = static_cast<DWORD>(value.size() + 1);
        return 0;
    }
    std::memcpy(buffer, value.c_str(), value.size() + 1);
    *size = static_cast<DWORD>(value.size() + 1);
    return 1;
}

BOOL EcbVariable(HCONN conn, char* name, void* buffer, DWORD* size) {
    return GiveVariable(*static_cast<Call*>(conn), name, buffer, size);
}

BOOL EcbWrite(HCONN conn, void* buffer, DWORD* bytes, DWORD) {
    HostAnswer& a = static_cast<Call*>(conn)->Answer;
    if (a.Written.empty()) a.FirstWrite.assign(static_cast<const char*>(buffer), *bytes);
    a.Written.append(static_cast<const char*>(buffer), *bytes);
    return 1;
}

// Like a server reading a socket: seldom all that was asked for at once.
BOOL EcbRead(HCONN conn, void* buffer, DWORD* size) {
    Call& call = *static_cast<Call*>(conn);
    ++call.Answer.ReadCalls;
    size_t n = std::min<size_t>({*size, 1000, call.Request->Body.size() - call.BodyPos});
    std::memcpy(buffer, call.Request->Body.data() + call.BodyPos, n);
    call.BodyPos += n;
    *size = static_cast<DWORD>(n);
    return 1;
}

BOOL EcbSupport(HCONN conn, DWORD request, void* buffer, DWORD* size, DWORD*) {
    if (request != HSE_REQ_SEND_URL_REDIRECT_RESP) return 0;
    static_cast<Call*>(conn)->Answer.Redirect.assign(static_cast<const char*>(buffer), *size);
    return 1;
}

BOOL FilterVariable(THTTP_FILTER_CONTEXT* pfc, char* name, void* buffer, DWORD* size) {
    return GiveVariable(*static_cast<Call*>(pfc->ServerContext), name, buffer, size);
}

BOOL FilterWrite(THTTP_FILTER_CONTEXT* pfc, void* buffer, DWORD* bytes, DWORD) {
    static_cast<Call*>(pfc->ServerContext)->Answer.Written.append(static_cast<const char*>(buffer), *bytes);
    return 1;
}

template <class F>
void Resolve(void* lib, const char* name, F& fn) {
    fn = reinterpret_cast<F>(dlsym(lib, name));
    if (!fn) throw std::runtime_error(std::string("entry point missing: ") + name);
}

}  // namespace

IsapiHost::IsapiHost(const std::string& libraryPath) {
    void* lib = dlopen(libraryPath.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!lib) throw std::runtime_error(std::string("dlopen: ") + dlerror());
    Resolve(lib, "GetExtensionVersion", FGetExtensionVersion);
    Resolve(lib, "HttpExtensionProc", FHttpExtensionProc);
    Resolve(lib, "TerminateExtension", FTerminateExtension);
    Resolve(lib, "GetFilterVersion", FGetFilterVersion);
    Resolve(lib, "HttpFilterProc", FHttpFilterProc);
}

HostAnswer IsapiHost::Extension(const HostRequest& request) const {
    Call call;
    call.Request = &request;
    call.Variables = &request.Variables;
    std::string method = request.Method, query = request.Query, contentType = request.ContentType;
    std::string pathInfo = "/", pathTranslated = "/tmp";
    size_t preloaded = std::min(request.Preloaded, request.Body.size());
    std::string preload = request.Body.substr(0, preloaded);
    call.BodyPos = preloaded;

    EXTENSION_CONTROL_BLOCK ecb{};
    ecb.cbSize = sizeof ecb;
    ecb.dwVersion = 0x20000;
    ecb.ConnID = &call;
    ecb.dwHttpStatusCode = 200;
    ecb.lpszMethod = method.data();
    ecb.lpszQueryString = query.data();
    ecb.lpszPathInfo = pathInfo.data();
    ecb.lpszPathTranslated = pathTranslated.data();
    ecb.cbTotalBytes = static_cast<DWORD>(request.Body.size());
    ecb.cbAvailable = static_cast<DWORD>(preloaded);
    ecb.lpbData = reinterpret_cast<unsigned char*>(preload.data());
    ecb.lpszContentType = contentType.data();
    ecb.GetServerVariable = EcbVariable;
    ecb.WriteClient = EcbWrite;
    ecb.ReadClient = EcbRead;
    ecb.ServerSupportFunction = EcbSupport;
    std::memset(ecb.lpszLogData, 'X', sizeof ecb.lpszLogData);
    ecb.lpszLogData[0] = '\0';

    call.Answer.Status = FHttpExtensionProc(&ecb);
    call.Answer.LogData.assign(ecb.lpszLogData, strnlen(ecb.lpszLogData, sizeof ecb.lpszLogData));
    return call.Answer;
}

DWORD IsapiHost::Filter(DWORD notification, const std::string& raw, const std::map<std::string, std::string>& variables,
                        std::string& written) const {
    Call call;
    call.Variables = &variables;
    THTTP_FILTER_CONTEXT pfc{};
    pfc.cbSize = sizeof pfc;
    pfc.Revision = 0x20000;
    pfc.ServerContext = &call;
    pfc.GetServerVariable = FilterVariable;
    pfc.WriteClient = FilterWrite;
    std::string data = raw;
    HTTP_FILTER_RAW_DATA rawData{data.data(), static_cast<DWORD>(data.size()), static_cast<DWORD>(data.size()), 0};
    HTTP_FILTER_PREPROC_HEADERS headers{};
    void* notificationData = notification == SF_NOTIFY_PREPROC_HEADERS ? static_cast<void*>(&headers) : &rawData;
    DWORD result = FHttpFilterProc(&pfc, notification, notificationData);
    written = call.Answer.Written;
    return result;
}

}  // namespace velmora::test
