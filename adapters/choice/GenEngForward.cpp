// TGeneralHttpEngine's forwarding operations: each reaches the calling thread's current engine;
// without one, reads come back empty, writes are dropped and nothing fails (see GenEng.h).
#include "GenEng.h"

namespace velmora {

namespace {

// Calls op on the current engine, or gives fallback when the thread has none.
template <class R, class Op>
R Forward(Op op, R fallback) {
    THttpEngine* engine = CurrentEngine();
    return engine ? op(*engine) : fallback;
}

template <class Op>
void Forward(Op op) {
    if (THttpEngine* engine = CurrentEngine()) op(*engine);
}

// The getters that read one server variable and give "" without an engine.
template <std::string (THttpEngine::*Getter)()>
std::string ForwardText() {
    return Forward<std::string>([](THttpEngine& e) { return (e.*Getter)(); }, std::string());
}

}  // namespace

std::string TGeneralHttpEngine::GetServerName() { return ForwardText<&THttpEngine::GetServerName>(); }
std::string TGeneralHttpEngine::GetServerSoftware() { return ForwardText<&THttpEngine::GetServerSoftware>(); }
std::string TGeneralHttpEngine::GetGatewayInterface() { return ForwardText<&THttpEngine::GetGatewayInterface>(); }
std::string TGeneralHttpEngine::GetServerProtocol() { return ForwardText<&THttpEngine::GetServerProtocol>(); }
std::string TGeneralHttpEngine::GetServerPort() { return ForwardText<&THttpEngine::GetServerPort>(); }

bool TGeneralHttpEngine::IsSecurePort() {
    return Forward<bool>([](THttpEngine& e) { return e.IsSecurePort(); }, false);
}

std::string TGeneralHttpEngine::GetRequestMethod() { return ForwardText<&THttpEngine::GetRequestMethod>(); }
std::string TGeneralHttpEngine::GetPathInfo() { return ForwardText<&THttpEngine::GetPathInfo>(); }
std::string TGeneralHttpEngine::GetPathTranslated() { return ForwardText<&THttpEngine::GetPathTranslated>(); }
std::string TGeneralHttpEngine::GetScriptName() { return ForwardText<&THttpEngine::GetScriptName>(); }

// An engine may give the marker for an absent query string; callers get "".
std::string TGeneralHttpEngine::GetQueryString() {
    std::string value = ForwardText<&THttpEngine::GetQueryString>();
    return value == NotAvailable ? std::string() : value;
}

std::string TGeneralHttpEngine::GetRemoteHost() { return ForwardText<&THttpEngine::GetRemoteHost>(); }
std::string TGeneralHttpEngine::GetRemoteAddr() { return ForwardText<&THttpEngine::GetRemoteAddr>(); }
std::string TGeneralHttpEngine::GetAuthType() { return ForwardText<&THttpEngine::GetAuthType>(); }

// Asks the engine's variable lookup, so each engine's own matching of the name applies.
std::string TGeneralHttpEngine::GetRemoteUser() {
    return Forward<std::string>([](THttpEngine& e) { return e.GetVariable("Remote User"); }, std::string());
}

std::string TGeneralHttpEngine::GetRemoteIdent() { return ForwardText<&THttpEngine::GetRemoteIdent>(); }
std::string TGeneralHttpEngine::GetContentType() { return ForwardText<&THttpEngine::GetContentType>(); }

// Never raises: a failing engine reads as no body.
int TGeneralHttpEngine::GetContentLength() {
    try {
        return Forward<int>([](THttpEngine& e) { return e.GetContentLength(); }, 0);
    } catch (...) {
        return 0;
    }
}

std::string TGeneralHttpEngine::GetUrl() { return ForwardText<&THttpEngine::GetUrl>(); }
std::string TGeneralHttpEngine::GetUserAgent() { return ForwardText<&THttpEngine::GetUserAgent>(); }
std::string TGeneralHttpEngine::GetHttpCookie() { return ForwardText<&THttpEngine::GetHttpCookie>(); }
std::string TGeneralHttpEngine::GetReferer() { return ForwardText<&THttpEngine::GetReferer>(); }
std::string TGeneralHttpEngine::GetExecutablePath() { return ForwardText<&THttpEngine::GetExecutablePath>(); }

void TGeneralHttpEngine::Write(const std::string& s) {
    Forward([&](THttpEngine& e) { e.Write(s); });
}

void TGeneralHttpEngine::WriteBuffer(const void* buffer, int count) {
    Forward([&](THttpEngine& e) { e.WriteBuffer(buffer, count); });
}

void TGeneralHttpEngine::WriteHeader(const std::string& name, const std::string& value) {
    Forward([&](THttpEngine& e) { e.WriteHeader(name, value); });
}

int TGeneralHttpEngine::ReadClient(void* buffer, int count) {
    return Forward<int>([&](THttpEngine& e) { return e.ReadClient(buffer, count); }, 0);
}

void TGeneralHttpEngine::EndHeaders() {
    Forward([](THttpEngine& e) { e.EndHeaders(); });
}

std::string TGeneralHttpEngine::GetVariable(const std::string& name) {
    return Forward<std::string>([&](THttpEngine& e) { return e.GetVariable(name); }, std::string());
}

std::string TGeneralHttpEngine::GetFormField(const std::string& name, const std::string& def) {
    return Forward<std::string>([&](THttpEngine& e) { return e.GetFormField(name, def); }, def);
}

std::unique_ptr<TStringList> TGeneralHttpEngine::GetFormFieldNames() {
    THttpEngine* engine = CurrentEngine();
    return engine ? engine->GetFormFieldNames() : std::make_unique<TStringList>();
}

TLockHandle TGeneralHttpEngine::CreateLock() {
    return Forward<TLockHandle>([](THttpEngine& e) { return e.CreateLock(); }, nullptr);
}

void TGeneralHttpEngine::EnterLock(TLockHandle lock) {
    Forward([&](THttpEngine& e) { e.EnterLock(lock); });
}

void TGeneralHttpEngine::LeaveLock(TLockHandle lock) {
    Forward([&](THttpEngine& e) { e.LeaveLock(lock); });
}

void TGeneralHttpEngine::FreeLock(TLockHandle lock) {
    Forward([&](THttpEngine& e) { e.FreeLock(lock); });
}

}  // namespace velmora
