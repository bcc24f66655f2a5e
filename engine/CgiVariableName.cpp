// The friendly-name rule of CGI variables, in one place for the engines that read them: the same
// name must reach the same variable whichever interface the web server speaks.
#include "CgiVariableName.h"

#include <algorithm>

#include "SysUtils.h"

namespace velmora {

std::string CgiVariableName(const std::string& name) {
    std::string key = UpperCase(name);
    std::replace(key.begin(), key.end(), ' ', '_');
    return key == "EXECUTABLE_PATH" ? "SCRIPT_NAME" : key;
}

}  // namespace velmora
