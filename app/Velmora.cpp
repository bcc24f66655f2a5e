// The program entry of velmora: prepares the framework's units, then creates the main window,
// whose engine component serves the request it was started for (and, as a CGI, ends the process).
#include "Forms.h"
#include "UnitStartup.h"
#include "haupt.h"

int main(int argc, char** argv) {
    using namespace velmora;
    InstallLogRoute();
    InstallFormReadLimit();
    StartFrameworkUnits(argc, argv);
    Application().SetTitle("Brevanto - VELMORA");
    Application().CreateForm<THauptmenue>();
    // Reached only when the engine did not end the process: a resident server's message loop.
    Application().Run();
    return 0;
}
