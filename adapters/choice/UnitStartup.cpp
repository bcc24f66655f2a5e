// The units' start-up in their fixed order, run by the program entry before any form exists; the
// order is written out here rather than left to static initialisation, whose order is unspecified.
#include "UnitStartup.h"

#include "CgiSEng.h"
#include "CgiWEng.h"
#include "FastCgiEng.h"
#include "System.h"

namespace velmora {

void StartFrameworkUnits(int argc, char** argv) {
    SetCommandLine(argc, argv);
    // A FastCGI server is neither a CGI start nor a resident CGI server, although a spawning web
    // server starts it as one would be started by hand (no SERVER_SOFTWARE, no parameter).
    if (FastCGIStart().Active) return;
    CgiSEngStartup(true);
    CgiWEngStartup(true);
}

}  // namespace velmora
