// velmora with one setting changed: its engine hands requests to a resident server that serves each
// on a thread of its own. The first CGI start launches that server; the window is velmora's own.
#include "Forms.h"
#include "UnitStartup.h"
#include "haupt.h"

int main(int argc, char** argv) {
    using namespace velmora;
    InstallFormReadLimit();
    StartFrameworkUnits(argc, argv);
    Application().SetTitle("Brevanto - VELMORA");
    auto* form = new THauptmenue(&Application());
    form->HTTP->CGIMode = ServerThreadMode;
    LoadComponents(form);
    Application().Run();
    return 0;
}
