// velmora-ini check, the modes: what the web server's account must be able to read and write,
// what nobody else may read, and whether the folder lies where a web server would serve it.
#include "Files.h"
#include "MailSecurity.h"
#include "SiteCheck.h"
#include "UserAccess.h"

namespace velmora {

namespace {

// Where Debian's web servers serve files from, and folder names that are document roots or CGI
// folders wherever they lie (~/public_html under mod_userdir, say).
constexpr const char* kServedRoots[] = {"/var/www", "/srv/www", "/srv/http", "/usr/share/nginx", "/usr/lib/cgi-bin"};
constexpr const char* kServedNames[] = {"public_html", "htdocs", "cgi-bin", "www", "html"};

bool Under(const std::string& path, const std::string& root) {
    return path == root || path.compare(0, root.size() + 1, root + "/") == 0;
}

// The part of path that a web server would serve, "" when none.
std::string ServedFolder(const std::string& path) {
    for (const char* root : kServedRoots)
        if (Under(path, root)) return root;
    for (const char* name : kServedNames) {
        std::string component = std::string("/") + name;
        for (size_t at = path.find(component); at != std::string::npos; at = path.find(component, at + 1)) {
            size_t end = at + component.size();
            if (end == path.size() || path[end] == '/') return path.substr(0, end);
        }
    }
    return "";
}

void NeedAccess(const TSite& site, const std::string& path, unsigned want, const std::string& why, const std::string& fix,
                TFindings& found) {
    std::string error;
    if (UserMayAccess(path, site.User, want, error)) return;
    found.push_back({"modes", site.User + " cannot " + (want & acWrite ? "write " : "read ") + path +
                                  (error.empty() ? "" : " (" + error + ")") + ": " + why,
                     fix, {}});
}

void CheckLogFolder(const TSite& site, TFindings& found) {
    if (site.Conf.Text("log") == "syslog") return;
    std::string log = site.Dir + "Log";
    if (!PathExists(log)) {
        NeedAccess(site, site.Dir, acWrite | acSearch, "velmora can make neither its Log folder nor a log beside the program: its lines are lost",
                   "mkdir -m 750 " + log + " && chown " + site.User + " " + log, found);
        return;
    }
    NeedAccess(site, log, acWrite | acSearch, "velmora tries beside the program instead, where the log is easier to reach",
               "chown " + site.User + " " + log + " && chmod 750 " + log, found);
}

// Files that hold visitors' addresses and form values; others must not read them.
void CheckPrivate(const TSite& site, TFindings& found) {
    for (const char* name : {"Log", "State", "VELMORA.RATE", "Outbox", "Archive"}) {
        std::string path = site.Dir + name;
        TFileStamp stamp = GetFileStamp(path);
        if (stamp.Exists && (stamp.Mode & 0004) != 0)
            found.push_back({"modes", path + " holds visitors' addresses and form values and every local account may read it",
                             "chmod o-rwx " + path, {}});
    }
}

}  // namespace

void CheckModes(const TSite& site, TFindings& found) {
    std::string conf = site.Dir + "VELMORA.CONF";
    if (site.Conf.Exists() && !site.Conf.Unreadable()) {
        // Judged for the server's account: a file of its own group is for it alone.
        unsigned group = ProcessGroup();
        UserGroup(site.User, group);
        // The server's own group may read the file while its owner keeps it unwritable for the server.
        const std::string ownGroup = "chgrp " + std::to_string(group) + " " + conf + " && chmod 640 " + conf;
        std::string refusal = MailSecurityRefusal(site.Conf, group);
        if (!refusal.empty()) found.push_back({"modes", conf + ": " + refusal, "chmod 600 " + conf + " (owned by " + site.User + "), or " + ownGroup, {}});
        NeedAccess(site, conf, acRead, "velmora runs with every option at its default (no TLS, no login)", ownGroup, found);
    }
    if (site.Settings)
        NeedAccess(site, site.Dir + "VELMORA.INI", acRead | acWrite, "velmora counts every post in it",
                   "chown " + site.User + " " + site.Dir + "VELMORA.INI && chmod 600 " + site.Dir + "VELMORA.INI", found);
    CheckLogFolder(site, found);
    CheckPrivate(site, found);
    std::string real = RealPath(site.Dir);
    std::string served = ServedFolder(real);
    if (!served.empty())
        found.push_back({"modes", real + " lies in " + served + ", which web servers serve: the settings, the password, the log and kept mail could be downloaded",
                         "move the site to a folder of its own outside the web (/usr/lib/velmora, /srv/velmora/SITE) and map one address to the program alone",
                         {}});
}

}  // namespace velmora
