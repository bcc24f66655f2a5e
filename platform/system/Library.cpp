// Shared libraries on POSIX through the dynamic loader: dlopen with local symbols, so a library
// opened here never lends its names to others, and dlsym for the look-ups.
#include "Library.h"

#include <dlfcn.h>

namespace velmora {

TLibraryHandle LoadLibrary(const std::string& name) noexcept {
    if (name.empty()) return nullptr;
    return ::dlopen(name.c_str(), RTLD_LAZY | RTLD_LOCAL);
}

TLibraryHandle ProcessSymbols() noexcept { return ::dlopen(nullptr, RTLD_LAZY); }

void* GetProcAddress(TLibraryHandle library, const std::string& name) noexcept {
    if (!library || name.empty()) return nullptr;
    return ::dlsym(library, name.c_str());
}

std::string SystemLibraryDirectory() { return "/usr/lib"; }

}  // namespace velmora
