// The adaptor table and its thirteen routines: each calls its slot when the engine layer filled it.
// Kept free of engine types so that util/ and image/ link below the engine.
#include "HAdaptor.h"

namespace velmora {

TAdaptorTable& AdaptorTable() noexcept {
    static TAdaptorTable table;
    return table;
}

void AdaptWrite(const std::string& s) {
    if (auto f = AdaptorTable().Write) f(s);
}
void AdaptWriteLn(const std::string& s) {
    if (auto f = AdaptorTable().WriteLn) f(s);
}
void AdaptWriteBuffer(const void* buffer, int count) {
    if (auto f = AdaptorTable().WriteBuffer) f(buffer, count);
}
int AdaptReadClient(void* buffer, int count) {
    auto f = AdaptorTable().ReadClient;
    return f ? f(buffer, count) : 0;
}
void AdaptWriteHeader(const std::string& name, const std::string& value) {
    if (auto f = AdaptorTable().WriteHeader) f(name, value);
}
std::string AdaptGetVariable(const std::string& name) {
    auto f = AdaptorTable().GetVariable;
    return f ? f(name) : std::string();
}
std::string AdaptGetFormField(const std::string& name, const std::string& def) {
    auto f = AdaptorTable().GetFormField;
    return f ? f(name, def) : def;
}
std::string AdaptGetQueryString() {
    auto f = AdaptorTable().GetQueryString;
    return f ? f() : std::string();
}
std::string AdaptGetHttpCookie() {
    auto f = AdaptorTable().GetHttpCookie;
    return f ? f() : std::string();
}
std::string AdaptGetExecutablePath() {
    auto f = AdaptorTable().GetExecutablePath;
    return f ? f() : std::string();
}
std::string AdaptGetUserAgent() {
    auto f = AdaptorTable().GetUserAgent;
    return f ? f() : std::string();
}
void AdaptSetContentKind(uint8_t kind) {
    if (auto f = AdaptorTable().SetContentKind) f(kind);
}
void AdaptStartHeader() {
    if (auto f = AdaptorTable().StartHeader) f();
}

}  // namespace velmora
