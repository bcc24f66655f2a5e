// The adaptor table: thirteen routines through which code below the engine layer (template filter,
// multipart decoder, GIF writer) reaches the calling thread's current engine without linking it.
#pragma once

#include <cstdint>
#include <string>

namespace velmora {

// The marker for an absent value where a default is needed; callers treat it like "".
inline const std::string NotAvailable = "#1NOT_AVAILABLE#1";

// Filled once by the engine layer at start-up; a slot left empty makes its routine do nothing
// (reads give the empty string or 0). Without a current engine on the calling thread, the engine
// layer's routines behave the same way: writes are dropped, reads come back empty.
struct TAdaptorTable {
    void (*Write)(const std::string& s) = nullptr;
    void (*WriteLn)(const std::string& s) = nullptr;
    void (*WriteBuffer)(const void* buffer, int count) = nullptr;
    int (*ReadClient)(void* buffer, int count) = nullptr;
    void (*WriteHeader)(const std::string& name, const std::string& value) = nullptr;
    std::string (*GetVariable)(const std::string& name) = nullptr;
    std::string (*GetFormField)(const std::string& name, const std::string& def) = nullptr;
    std::string (*GetQueryString)() = nullptr;
    std::string (*GetHttpCookie)() = nullptr;
    std::string (*GetExecutablePath)() = nullptr;
    std::string (*GetUserAgent)() = nullptr;
    void (*SetContentKind)(uint8_t kind) = nullptr;
    void (*StartHeader)() = nullptr;
};

// The process-wide table. Written only at start-up (and by tests that install their own engine).
TAdaptorTable& AdaptorTable() noexcept;

void AdaptWrite(const std::string& s);
void AdaptWriteLn(const std::string& s);
void AdaptWriteBuffer(const void* buffer, int count);
int AdaptReadClient(void* buffer, int count);
void AdaptWriteHeader(const std::string& name, const std::string& value);
std::string AdaptGetVariable(const std::string& name);
std::string AdaptGetFormField(const std::string& name, const std::string& def);
std::string AdaptGetQueryString();
std::string AdaptGetHttpCookie();
std::string AdaptGetExecutablePath();
std::string AdaptGetUserAgent();
void AdaptSetContentKind(uint8_t kind);
// Sends the engine's automatic header now unless it has gone out, so that what follows is page
// text whatever its first bytes are.
void AdaptStartHeader();

}  // namespace velmora
