// The units' start-up in their fixed order, run by the program entry before any form exists; the
// order is written out here rather than left to static initialisation, whose order is unspecified.
#include "UnitStartup.h"

#include "CgiSEng.h"
#include "System.h"

namespace velmora {

void StartFrameworkUnits(int argc, char** argv) {
    SetCommandLine(argc, argv);
    CgiSEngStartup(true);
    // The Windows CGI unit's start-up goes here, after the standard CGI unit's.
}

}  // namespace velmora
