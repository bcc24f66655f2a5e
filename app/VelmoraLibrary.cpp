// The load hook of velmora built as a library for a web server's process: it marks the process as
// a library and names the start that creates the application and its main window.
#include "Forms.h"
#include "LibraryStart.h"
#include "System.h"
#include "haupt.h"

namespace {

// Run by the first entry point the server calls. The main window's engine component then finds
// the process a library and makes the library engines; side files are looked for beside the
// library itself.
void StartVelmora() {
    using namespace velmora;
    Application().SetTitle("Brevanto - VELMORA");
    Application().CreateForm<THauptmenue>();
}

// The loader runs this hook among the library's static initialisers, in no order we control, so
// it only sets two constant-initialised values; the window is made on the first call.
__attribute__((constructor)) void VelmoraLibraryLoaded() {
    velmora::SetRunsAsLibrary(true);
    velmora::SetLibraryMain(&StartVelmora);
}

}  // namespace
