// The CGI name of a variable the program asks for by its friendly name: the rule every engine that
// reads CGI variables shares (standard CGI, FastCGI, ISAPI), so each names them alike.
#pragma once

#include <string>

namespace velmora {

// Upper case, blanks become "_" ("server software" and "SERVER SOFTWARE" both become
// "SERVER_SOFTWARE"); EXECUTABLE_PATH is SCRIPT_NAME. A CGI name stays as it is.
std::string CgiVariableName(const std::string& name);

}  // namespace velmora
