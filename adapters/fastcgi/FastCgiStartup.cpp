// How a FastCGI start is recognised, once per process: "--fastcgi=ADDRESS" (or "--fastcgi
// ADDRESS") on the command line, a socket a service manager handed over (LISTEN_FDS), or a
// listening socket as standard input (a spawning web server). "--site=DIR" names the site folder.
#include <mutex>

#include "ActivatedSocket.h"
#include "EnvPaths.h"
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

// The site folder of --site: an absolute path to an existing folder, taken with its links
// resolved, so that the server's files never move when a link is changed under it.
std::string SiteFolderError(const std::string& given, std::string& folder) {
    if (given.empty() || !IsAbsolutePath(given)) return "--site needs the absolute path of the site folder";
    folder = RealPath(given);
    if (folder.empty() || !DirectoryExists(folder)) return "--site: " + given + " is not a folder";
    return {};
}

TFastCGIStart Decide() {
    TFastCGIStart start;
    if (RunsAsLibrary()) return start;
    bool explicitAddress = false, siteGiven = false;
    std::string threads, site;
    bool threadsGiven = false;
    std::string unknown;
    for (int i = 1; i <= ParamCount(); ++i) {
        const std::string arg = ParamStr(i);
        if (TakeValue(arg, "--fastcgi", i, start.Address)) explicitAddress = true;
        else if (TakeValue(arg, "--threads", i, threads)) threadsGiven = true;
        else if (TakeValue(arg, "--site", i, site)) siteGiven = true;
        else if (unknown.empty()) unknown = arg;
    }
    std::string handOverError;
    const int activated = TakeActivatedSocket(handOverError);
    start.Active = explicitAddress || activated >= 0 || !handOverError.empty() || IsListeningSocket(0);
    // Never for a CGI start: a web server may pass a query's words as its command line.
    if (!start.Active) return start;
    if (activated >= 0) start.Fd = activated;
    if (!handOverError.empty()) start.Error = handOverError;
    if (explicitAddress && activated >= 0) start.Error = "--fastcgi given, but a service manager handed over a socket too";
    if (explicitAddress && start.Address.empty()) start.Error = "--fastcgi needs an address (a socket path or HOST:PORT)";
    if (threadsGiven && (!TryStrToInt(threads, start.Threads) || start.Threads < 1 || start.Threads > 256))
        start.Error = "--threads needs a number from 1 to 256, not \"" + threads + "\"";
    std::string folder;
    if (siteGiven) {
        std::string why = SiteFolderError(site, folder);
        if (!why.empty()) start.Error = why;
    }
    if (!unknown.empty())
        start.Error = "unknown option \"" + unknown + "\" (a FastCGI server takes --fastcgi, --threads and --site)";
    // Before the first log line, so that even the report of a bad option goes to the site's log.
    if (start.Error.empty() && !folder.empty()) SetSiteFolder(folder);
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
