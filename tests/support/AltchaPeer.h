// altcha-lib under node as the independent proof-of-work peer of the tests (altcha_peer.mjs),
// installed once into the build tree; shared by every engine's tests of the challenges.
#pragma once

#include <gtest/gtest.h>

#include <cctype>
#include <string>
#include <vector>

#include "ChildProcess.h"

namespace velmora::test {

// Installs altcha-lib (and the widget) into modulesDir unless there already; false on failure.
inline bool InstallAltchaPeers(const std::string& sourceDir, const std::string& modulesDir, std::string& why) {
    TChildResult r = RunChild({{"/bin/sh", sourceDir + "/tests/support/install-altcha-peers.sh", modulesDir},
                               InheritedEnvironment(), "", 300000, ""});
    why = r.Err;
    return r.ExitCode == 0;
}

// altcha-lib's answer to one command of altcha_peer.mjs ("solve", "create", "verify").
inline std::string AltchaPeer(const std::string& sourceDir, const std::string& modulesDir,
                              const std::vector<std::string>& args, const std::string& input = "") {
    std::vector<std::string> all = {"/usr/bin/node", sourceDir + "/tests/support/altcha_peer.mjs", modulesDir};
    all.insert(all.end(), args.begin(), args.end());
    TChildResult r = RunChild({all, InheritedEnvironment(), input, 120000, ""});
    EXPECT_EQ(r.ExitCode, 0) << r.Err;
    return r.Out;
}

// Every byte but letters and digits as %XX: a payload's '+', '/' and '=' survive the form decoding.
inline std::string PercentEncodeAll(const std::string& s) {
    static const char hex[] = "0123456789ABCDEF";
    std::string out;
    for (unsigned char c : s) {
        if (std::isalnum(c)) out += static_cast<char>(c);
        else out += std::string("%") + hex[c >> 4] + hex[c & 15];
    }
    return out;
}

}  // namespace velmora::test
