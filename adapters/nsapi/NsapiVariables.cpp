// TNSAPIEngine's request values: the look-ups in the server's parameter blocks, GetVariable's
// search through every block of the request, and the request header as the server reads it.
#include <algorithm>

#include "NSapiEng.h"
#include "NsapiBinding.h"

namespace velmora {

using namespace nsapi;

namespace {

Request* CurrentRequest() { return NsapiRequestState().Request; }
Session* CurrentSession() { return NsapiRequestState().Session; }
pblock* RequestBlock() { return CurrentRequest() ? CurrentRequest()->reqpb : nullptr; }
pblock* HeaderBlock() { return CurrentRequest() ? CurrentRequest()->headers : nullptr; }
pblock* ClientBlock() { return CurrentSession() ? CurrentSession()->client : nullptr; }

// The server keeps request headers under lower-case names with "-": "CONTENT_TYPE",
// "content type" and "HTTP_USER_AGENT" become "content-type" and "user-agent".
std::string HeaderName(const std::string& name) {
    std::string key = LowerCase(name);
    std::replace(key.begin(), key.end(), ' ', '-');
    std::replace(key.begin(), key.end(), '_', '-');
    return key.rfind("http-", 0) == 0 ? key.substr(5) : key;
}

}  // namespace

bool TNSAPIEngine::Find(pblock* block, const std::string& name, std::string& value) {
    auto find = Server<pblock_fr_t>(FunctionIndex("_pblock_fr"));
    auto findval = Server<pblock_findval_t>(FunctionIndex("pblock_findval"));
    if (!block || !find || !findval || !find(name.c_str(), block, 0)) return false;
    const char* text = findval(name.c_str(), block);
    if (!text) return false;
    value = text;
    return true;
}

std::string TNSAPIEngine::Lookup(pblock* block, const char* name) {
    std::string value;
    Find(block, name, value);
    return value;
}

std::string TNSAPIEngine::GetRequestMethod() { return Lookup(RequestBlock(), "method"); }
std::string TNSAPIEngine::GetQueryString() { return Lookup(RequestBlock(), "query"); }
std::string TNSAPIEngine::GetExecutablePath() { return Lookup(RequestBlock(), "uri"); }
std::string TNSAPIEngine::GetScriptName() { return GetExecutablePath(); }
std::string TNSAPIEngine::GetServerProtocol() { return Lookup(RequestBlock(), "protocol"); }
std::string TNSAPIEngine::GetUserAgent() { return Lookup(HeaderBlock(), "user-agent"); }
std::string TNSAPIEngine::GetHttpCookie() { return Lookup(HeaderBlock(), "cookie"); }
std::string TNSAPIEngine::GetContentType() { return Lookup(HeaderBlock(), "content-type"); }
std::string TNSAPIEngine::GetRemoteAddr() { return Lookup(ClientBlock(), "ip"); }
std::string TNSAPIEngine::GetRemoteHost() { return Lookup(ClientBlock(), "dns"); }

int TNSAPIEngine::GetContentLength() { return StrToIntDef(GetVariable("content-length"), 0); }

// The name as given, in the request's blocks from the most to the least specific, then as a
// header the server reads on demand. A name in another spelling than the server's is finally
// tried as a header name, so that "CONTENT_LENGTH" finds the server's "content-length".
std::string TNSAPIEngine::GetVariable(const std::string& name) {
    std::string key = UpperCase(name);
    std::replace(key.begin(), key.end(), ' ', '_');
    if (key == "SCRIPT_NAME" || key == "EXECUTABLE_PATH") return GetScriptName();
    const TNsapiRequestState& st = NsapiRequestState();
    Request* rq = st.Request;
    Session* sn = st.Session;
    if (!rq || !sn) return std::string();
    std::string value;
    for (pblock* block : {rq->reqpb, rq->vars, rq->headers, rq->srvhdrs, sn->client, st.Params})
        if (Find(block, name, value)) return value;
    auto header = Server<request_header_t>(FunctionIndex("request_header"));
    if (!header) return std::string();
    char* text = nullptr;
    header(const_cast<char*>(name.c_str()), &text, sn, rq);
    std::string asHeader = HeaderName(name);
    if (!text && asHeader != name) header(asHeader.data(), &text, sn, rq);
    return text ? std::string(text) : std::string();
}

}  // namespace velmora
