// The process environment and path routines every layer shares: GetEnv, ModuleFileName,
// BuildFileName (log and upload file names) and FindFileInfo (existence tests).
#pragma once

#include <string>

#include "Files.h"

namespace velmora {

// The environment variable's value, or "" when it is not set. "SERVER_SOFTWARE" whose value
// contains "ZB" reads as "", so such a server is not taken for a standard CGI server. Values of
// any length are returned whole.
std::string GetEnv(const std::string& name);

// Full path of the program file: the shared library itself when loaded into a server. In a
// server started with a site folder (SetSiteFolder), the program's name in that folder: every side
// file, the log and Temp are then found there, as they are beside a copy of the program.
std::string ModuleFileName();

// Makes the absolute folder the place ModuleFileName names. Set once at start, before any thread
// but the main one runs, and never changed after: the threads read it without a lock.
void SetSiteFolder(const std::string& folder);

// A file path built from the program file Base, a folder Dir (relative to Base's folder unless
// absolute), a name and an extension; see EnvPaths.cpp for the rules. An absolute fileName is
// returned unchanged.
std::string BuildFileName(const std::string& base, const std::string& dir, bool keepName,
                          const std::string& ext, bool keepExt, const std::string& fileName);

// Looks for the first entry matching path with the attribute mask; 0 when one was found (and
// copied to rec), else the system's error code. The search is closed at once.
int FindFileInfo(const std::string& path, int attributes, TSearchRec& rec);

}  // namespace velmora
