// A program folder for the CGI benchmarks: a copy of velmora with a settings file mailing
// form@example.org's posts to webmaster@example.org through a relay on a loopback port.
#pragma once

#include <filesystem>
#include <fstream>
#include <string>

#include "SettingsFile.h"

namespace velmora::bench {

// dir/velmora, beside VELMORA.INI and, when conf is not empty, VELMORA.CONF holding conf.
inline std::string CgiSite(const std::string& program, const std::string& dir, int relayPort, const std::string& conf) {
    std::filesystem::create_directories(dir);
    std::filesystem::copy_file(program, dir + "/velmora");
    TMailSettings s;
    s.Set(TMailField::mailfrom, "form@example.org");
    s.Set(TMailField::mailto, "webmaster@example.org");
    s.Set(TMailField::mailhost, "127.0.0.1");
    s.Set(TMailField::mailport, std::to_string(relayPort));
    WriteSettingsFile(dir + "/VELMORA.INI", s);
    if (!conf.empty()) std::ofstream(dir + "/VELMORA.CONF") << conf;
    return dir + "/velmora";
}

}  // namespace velmora::bench
