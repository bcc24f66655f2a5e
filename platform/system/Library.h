// Loading a shared library into the process and finding its exported functions by name: what
// an engine needs to bind the functions of the web server that loaded this program.
#pragma once

#include <string>

namespace velmora {

using TLibraryHandle = void*;

// The library by name: a bare name is looked for where the loader looks (one already in the
// process is found first), a path is taken as it is. Null when it cannot be loaded. The library
// stays loaded for the life of the process.
TLibraryHandle LoadLibrary(const std::string& name) noexcept;
// The symbols already in the process: the program and the libraries it loaded for everyone.
TLibraryHandle ProcessSymbols() noexcept;
// The exported function or object of that name, or null.
void* GetProcAddress(TLibraryHandle library, const std::string& name) noexcept;
// The folder where the system keeps its shared libraries.
std::string SystemLibraryDirectory();

}  // namespace velmora
