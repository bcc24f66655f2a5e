// The thirteen adaptor routines: each forwards to the calling thread's current engine. On a thread
// without one, writes are dropped and reads give "" (a form field its default, ReadClient 0).
#include "EngineAdaptors.h"

#include "HAdaptor.h"
#include "HttpEng.h"

namespace velmora {

namespace {

void Write(const std::string& s) {
    if (auto* e = CurrentEngine()) e->Write(s);
}
void WriteLn(const std::string& s) {
    if (auto* e = CurrentEngine()) e->WriteLn(s);
}
void WriteBuffer(const void* buffer, int count) {
    if (auto* e = CurrentEngine()) e->WriteBuffer(buffer, count);
}
int ReadClient(void* buffer, int count) {
    auto* e = CurrentEngine();
    return e ? e->ReadCounted(buffer, count) : 0;
}
void WriteHeader(const std::string& name, const std::string& value) {
    if (auto* e = CurrentEngine()) e->WriteHeader(name, value);
}
std::string GetVariable(const std::string& name) {
    auto* e = CurrentEngine();
    return e ? e->GetVariable(name) : std::string();
}
std::string GetFormField(const std::string& name, const std::string& def) {
    auto* e = CurrentEngine();
    return e ? e->GetFormField(name, def) : def;
}
// The getters without arguments share one shape: ask the engine, or answer "".
template <std::string (THttpEngine::*Get)()>
std::string Ask() {
    auto* e = CurrentEngine();
    return e ? (e->*Get)() : std::string();
}
void SetContentKind(uint8_t kind) { RequestState().ContentKind = kind; }
void StartHeader() {
    if (auto* e = CurrentEngine()) e->StartAutoHeader();
}

}  // namespace

void InstallEngineAdaptors() noexcept {
    TAdaptorTable& t = AdaptorTable();
    t.Write = &Write;
    t.WriteLn = &WriteLn;
    t.WriteBuffer = &WriteBuffer;
    t.ReadClient = &ReadClient;
    t.WriteHeader = &WriteHeader;
    t.GetVariable = &GetVariable;
    t.GetFormField = &GetFormField;
    t.GetQueryString = &Ask<&THttpEngine::GetQueryString>;
    t.GetHttpCookie = &Ask<&THttpEngine::GetHttpCookie>;
    t.GetExecutablePath = &Ask<&THttpEngine::GetExecutablePath>;
    t.GetUserAgent = &Ask<&THttpEngine::GetUserAgent>;
    t.SetContentKind = &SetContentKind;
    t.StartHeader = &StartHeader;
}

}  // namespace velmora
