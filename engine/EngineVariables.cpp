// The friendly-variable getters of THttpEngine: each asks GetVariable for a friendly name and,
// where servers differ in naming, for a second name when the first one is empty.
#include "HttpEng.h"

namespace velmora {

namespace {

std::string FirstOf(THttpEngine& engine, const char* first, const char* second) {
    std::string value = engine.GetVariable(first);
    return value.empty() ? engine.GetVariable(second) : value;
}

}  // namespace

std::string THttpEngine::GetServerName() { return GetVariable("SERVER NAME"); }
std::string THttpEngine::GetServerSoftware() { return GetVariable("SERVER SOFTWARE"); }
std::string THttpEngine::GetGatewayInterface() { return GetVariable("GATEWAY INTERFACE"); }
std::string THttpEngine::GetServerProtocol() {
    return FirstOf(*this, "SERVER PROTOCOL", "REQUEST PROTOCOL");
}
std::string THttpEngine::GetServerPort() { return GetVariable("SERVER PORT"); }
bool THttpEngine::IsSecurePort() { return GetVariable("SERVER PORT SECURE") == "1"; }
std::string THttpEngine::GetRequestMethod() { return GetVariable("REQUEST METHOD"); }
std::string THttpEngine::GetPathInfo() { return GetVariable("PATH INFO"); }
std::string THttpEngine::GetPathTranslated() {
    return FirstOf(*this, "PATH TRANSLATED", "DOCUMENT ROOT");
}
std::string THttpEngine::GetScriptName() { return FirstOf(*this, "SCRIPT NAME", "EXECUTABLE PATH"); }

std::string THttpEngine::GetQueryString() {
    std::string value = GetVariable("QUERY STRING");
    return value == NotAvailable ? std::string() : value;
}

std::string THttpEngine::GetRemoteHost() { return GetVariable("REMOTE HOST"); }
std::string THttpEngine::GetRemoteAddr() { return FirstOf(*this, "REMOTE ADDR", "REMOTE ADDRESS"); }
std::string THttpEngine::GetAuthType() { return FirstOf(*this, "AUTH TYPE", "AUTHETICATION METHOD"); }
std::string THttpEngine::GetRemoteUser() { return GetVariable("REMOTE USER"); }
std::string THttpEngine::GetRemoteIdent() { return GetVariable("REMOTE IDENT"); }
std::string THttpEngine::GetContentType() { return GetVariable("CONTENT TYPE"); }

// A missing or malformed length counts as no body.
int THttpEngine::GetContentLength() { return StrToIntDef(GetVariable("CONTENT LENGTH"), 0); }

std::string THttpEngine::GetUrl() {
    std::string value = FirstOf(*this, "URL", "HTTP_URL");
    return value.empty() ? GetExecutablePath() : value;
}

std::string THttpEngine::GetUserAgent() { return FirstOf(*this, "HTTP USER AGENT", "USER AGENT"); }
std::string THttpEngine::GetHttpCookie() { return GetVariable("HTTP COOKIE"); }
std::string THttpEngine::GetReferer() { return FirstOf(*this, "HTTP REFERER", "REFERER"); }
std::string THttpEngine::GetExecutablePath() {
    return FirstOf(*this, "EXECUTABLE PATH", "SCRIPT NAME");
}

}  // namespace velmora
