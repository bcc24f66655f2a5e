// Apache's ISAPI module for the tests that load velmora's library into a real Apache: built once
// per build folder from Debian's source by tools/build-mod-isapi.sh.
#pragma once

#include <stdexcept>
#include <string>

#include "ChildProcess.h"

namespace velmora::test {

// The module's path. A machine that cannot fetch or build it fails the tests: they must never
// pass without having run under the real module.
inline std::string ModIsapi() {
    static std::string path;
    static std::string failure;
    if (path.empty() && failure.empty()) {
        TChildRun run;
        run.Args = {"/bin/sh", VELMORA_SOURCE_DIR "/tools/build-mod-isapi.sh", VELMORA_BINARY_DIR "/mod_isapi"};
        run.Env = InheritedEnvironment();
        run.TimeoutMs = 300000;
        TChildResult r = RunChild(run);
        std::string out = r.Out;
        while (!out.empty() && out.back() == '\n') out.pop_back();
        if (r.ExitCode == 0) path = out.substr(out.rfind('\n') + 1);
        else failure = "tools/build-mod-isapi.sh failed: " + r.Out;
    }
    if (path.empty()) throw std::runtime_error(failure);
    return path;
}

}  // namespace velmora::test
