// The start-up of the framework's units, which a program entry calls first, before it creates any
// form: it keeps the order in which the engine units must prepare the process.
#pragma once

namespace velmora {

// Records the command line, then (unless this is a FastCGI start, see FastCGIStart) runs the
// units' start-ups in their order:
//   1. the engine base (adaptor table, random seed): a static initializer of the engine library,
//      so it has always run before main and before this call;
//   2. the standard CGI unit (CgiSEngStartup): decides the process's role in the resident exchange
//      (the resident server makes its queue file here), opens standard input and output of a CGI
//      start, and hands its request to a running resident server, ending the process;
//   3. the profile-file unit (CgiWEngStartup): decides whether this is a profile-file start and
//      takes the profile from the first parameter; a request for a running resident server is
//      handed over there.
// Because every step runs here, in main, before the first form is created, no window and no
// engine exists while they run. Calling it again does nothing more.
void StartFrameworkUnits(int argc, char** argv);

}  // namespace velmora
