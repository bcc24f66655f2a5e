// How a FastCGI start is recognised, once per process: "--fastcgi=ADDRESS" (or "--fastcgi
// ADDRESS") on the command line, or a listening socket as standard input (a spawning web server).
#include <mutex>

#include "FastCgiEng.h"
#include "Listener.h"
#include "System.h"

namespace velmora {

namespace {

bool TakeValue(const std::string& arg, const std::string& option, int& i, std::string& value) {
    if (arg.rfind(option + "=", 0) == 0) {
        value = arg.substr(option.size() + 1);
        return true;
    }
    if (arg != option) return false;
    value = i < ParamCount() ? ParamStr(++i) : std::string();
    return true;
}

TFastCGIStart Decide() {
    TFastCGIStart start;
    if (RunsAsLibrary()) return start;
    bool explicitAddress = false;
    std::string threads;
    bool threadsGiven = false;
    std::string unknown;
    for (int i = 1; i <= ParamCount(); ++i) {
        const std::string arg = ParamStr(i);
        if (TakeValue(arg, "--fastcgi", i, start.Address)) explicitAddress = true;
        else if (TakeValue(arg, "--threads", i, threads)) threadsGiven = true;
        else if (unknown.empty()) unknown = arg;
    }
    start.Active = explicitAddress || IsListeningSocket(0);
    if (!start.Active) return start;
    if (explicitAddress && start.Address.empty()) start.Error = "--fastcgi needs an address (a socket path or HOST:PORT)";
    if (threadsGiven && (!TryStrToInt(threads, start.Threads) || start.Threads < 1 || start.Threads > 256))
        start.Error = "--threads needs a number from 1 to 256, not \"" + threads + "\"";
    if (!unknown.empty()) start.Error = "unknown option \"" + unknown + "\" (a FastCGI server takes --fastcgi and --threads)";
    return start;
}

}  // namespace

const TFastCGIStart& FastCGIStart() {
    static TFastCGIStart start;
    static std::once_flag once;
    std::call_once(once, [] { start = Decide(); });
    return start;
}

}  // namespace velmora
