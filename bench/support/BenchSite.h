// A program folder for the CGI benchmarks: a copy of velmora with a settings file mailing
// form@example.org's posts to webmaster@example.org through a relay on a loopback port.
#pragma once

#include <filesystem>
#include <fstream>
#include <string>

#include "SettingsFile.h"
#include "SiteSettings.h"

namespace velmora::bench {

// dir/velmora, beside VELMORA.INI and, when conf is not empty, VELMORA.CONF holding conf.
inline std::string CgiSite(const std::string& program, const std::string& dir, int relayPort, const std::string& conf) {
    std::filesystem::create_directories(dir);
    std::filesystem::copy_file(program, dir + "/velmora");
    WriteSettingsFile(dir + "/VELMORA.INI", test::SiteMailSettings(relayPort));
    if (!conf.empty()) std::ofstream(dir + "/VELMORA.CONF") << conf;
    return dir + "/velmora";
}

}  // namespace velmora::bench
