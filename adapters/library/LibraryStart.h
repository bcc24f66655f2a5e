// The start of the program loaded as a library: the load hook names the application's start
// routine, and the first call of any entry point the server makes runs it, once.
#pragma once

namespace velmora {

// Creates the application and its main window (whose engine component makes the library engines).
using TLibraryMain = void (*)();

// Called by the load hook. Only stores the pointer, so it is safe before any static initialiser
// of the library has run (the loader runs the hook and those initialisers in an order of its own).
void SetLibraryMain(TLibraryMain main) noexcept;

// Runs the start routine the first time it is called, on whatever server thread calls first;
// concurrent callers wait until it has finished. An exception from it is logged, and the library
// then has no engine: the entry points answer with an error.
void StartLibrary() noexcept;

}  // namespace velmora
