// Helpers for the engine tests that look at log files: a test folder named by CGI_LOG_DIR,
// reading a file whole, and the pattern of one log line.
#pragma once

#include <stdlib.h>

#include <fstream>
#include <regex>
#include <sstream>
#include <string>

#include "EnvPaths.h"
#include "TempDir.h"

namespace velmora::test {

inline std::string ReadWholeFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

// Makes a test's own folder the log folder of this process.
inline std::string UseLogDir(const TempDir& dir) {
    setenv("CGI_LOG_DIR", dir.Path().c_str(), 1);
    return dir.Path();
}

inline std::string LogFileIn(const std::string& dir) {
    return dir + "/" + ExtractFileName(ModuleFileName()) + ".Log";
}

// One log line: date, blank, time, ",  ", request number, " : ", message, CR LF.
inline std::regex LogLinePattern(const std::string& messageRegex) {
    return std::regex("[^ ,]+ [^ ,]+,  ([0-9]{1,3}) : " + messageRegex + "\r\n");
}

}  // namespace velmora::test
