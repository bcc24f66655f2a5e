// Finds libhiredis by the name its own header gives for the version built against, so that the
// struct layouts the connection reads match the library that runs.
#include "HiredisLibrary.h"

#include "Library.h"

namespace velmora {

namespace {

#define VELMORA_TEXT2(x) #x
#define VELMORA_TEXT(x) VELMORA_TEXT2(x)
constexpr const char* kLibrary = "libhiredis.so." VELMORA_TEXT(HIREDIS_SONAME);

template <class F>
bool Bind(TLibraryHandle library, const char* name, F& fn) {
    fn = reinterpret_cast<F>(GetProcAddress(library, name));
    return fn != nullptr;
}

const THiredis* Load() {
    static THiredis api;
    TLibraryHandle library = LoadLibrary(kLibrary);
    if (!library) return nullptr;
    bool all = Bind(library, "redisConnectWithTimeout", api.ConnectTcp) &&
               Bind(library, "redisConnectUnixWithTimeout", api.ConnectUnix) &&
               Bind(library, "redisSetTimeout", api.SetTimeout) && Bind(library, "redisCommandArgv", api.CommandArgv) &&
               Bind(library, "freeReplyObject", api.FreeReply) && Bind(library, "redisFree", api.Free);
    return all ? &api : nullptr;
}

}  // namespace

const THiredis* Hiredis() noexcept {
    static const THiredis* api = Load();
    return api;
}

const char* HiredisLibraryName() noexcept { return kLibrary; }

}  // namespace velmora
