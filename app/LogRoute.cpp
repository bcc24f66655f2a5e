// The site's choice of log (VELMORA.CONF's log and syslog_socket) handed to the engine's WriteLog,
// which asks for it on every line: an edited file counts from the next line on, at one stat a line.
#include <mutex>

#include "EnvPaths.h"
#include "Files.h"
#include "SiteConfig.h"
#include "haupt.h"

namespace velmora {

namespace {

TLogRoute SiteLogRoute() {
    // Problems of the file itself are logged from in here; WriteLog holds them until this answer
    // is known and then sends them the same way.
    auto site = LoadSiteConfig(ExtractFilePath(ModuleFileName()) + "VELMORA.CONF", WriteLog);
    const std::string& log = site->Text("log");
    TLogRoute route;
    route.File = log != "syslog";
    route.Syslog = log != "file";
    route.SyslogSocket = site->Text("syslog_socket");
    return route;
}

}  // namespace

void InstallLogRoute() {
    // Once per process: the program installs it before its start and the main window again (for
    // the libraries), and a rule replaced while another thread logs would be torn.
    static std::once_flag installed;
    std::call_once(installed, [] { SetLogRouteRule(SiteLogRoute); });
}

}  // namespace velmora
