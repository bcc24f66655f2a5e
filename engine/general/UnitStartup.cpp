// The units' start-up in their fixed order, run by the program entry before any form exists; the
// order is written out here rather than left to static initialisation, whose order is unspecified.
#include "UnitStartup.h"

#include "CgiSEng.h"
#include "CgiWEng.h"
#include "System.h"

namespace velmora {

void StartFrameworkUnits(int argc, char** argv) {
    SetCommandLine(argc, argv);
    CgiSEngStartup(true);
    CgiWEngStartup(true);
}

}  // namespace velmora
