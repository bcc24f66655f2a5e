// Looks for velmora-tls.so beside the program or server library first, so an installed copy
// always takes its own module, then where the build put it (programs run from the build tree).
#include "TlsModuleLoader.h"

#include <string>

#include "Library.h"
#include "System.h"

namespace velmora {

namespace {

// The module of the right version at path, or null.
const TVelmoraTlsModule* TryModule(const std::string& path) {
    TLibraryHandle library = LoadLibrary(path);
    auto entry = reinterpret_cast<TVelmoraTlsEntry>(GetProcAddress(library, VELMORA_TLS_ENTRY));
    const TVelmoraTlsModule* module = entry ? entry() : nullptr;
    return module && module->Abi == VELMORA_TLS_ABI ? module : nullptr;
}

const TVelmoraTlsModule* FindModule() {
    std::string own = GetModuleFileName();
    own.erase(own.find_last_of('/') + 1);
    if (const TVelmoraTlsModule* module = TryModule(own + kTlsModuleName)) return module;
#ifdef VELMORA_TLS_MODULE_BUILT
    return TryModule(VELMORA_TLS_MODULE_BUILT);
#else
    return nullptr;
#endif
}

}  // namespace

const TVelmoraTlsModule* LoadedTlsModule() {
    static const TVelmoraTlsModule* module = FindModule();
    return module;
}

}  // namespace velmora
