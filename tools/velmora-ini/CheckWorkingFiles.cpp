// velmora-ini check, the working files: each folder a switched-on option makes and replaces files
// in is tried for real as the web server's account (a child that becomes it), not from mode bits.
#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <vector>

#include "Files.h"
#include "Outbox.h"
#include "SharedStore.h"
#include "SiteCheck.h"
#include "StateFolder.h"
#include "UserAccess.h"

namespace velmora {

namespace {

struct TNeed {
    std::string Folder;  // where velmora makes, renames and removes files
    std::string What;    // what it keeps there
    std::string Lost;    // what a post gets when it cannot
};

// Makes, renames and removes a file in folder (a folder velmora would make: in the nearest one
// above that exists) as this process is; 0 or the errno of the step that failed.
int TryFolder(const std::string& folder) {
    std::string at = folder;
    while (!DirectoryExists(at) && at.size() > 1) at = at.substr(0, at.find_last_of('/', at.size() - 2) + 1);
    const std::string a = at + "/.velmora-check-" + std::to_string(::getpid()), b = a + "-renamed";
    int fd = ::open(a.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd < 0) return errno;
    bool wrote = ::write(fd, "x", 1) == 1;
    int error = wrote ? 0 : errno;
    ::close(fd);
    if (error == 0 && ::rename(a.c_str(), b.c_str()) != 0) error = errno;
    ::unlink(error == 0 ? b.c_str() : a.c_str());
    return error;
}

// TryFolder as user: in a child that takes the account's groups and ids first when check runs as
// root, in this process when it runs as that account.
int TryFolderAs(const std::string& folder, const std::string& user) {
    passwd* pw = ::getpwnam(user.c_str());
    if (!pw) return ESRCH;
    const uid_t uid = pw->pw_uid;
    const gid_t gid = pw->pw_gid;
    int count = 64;
    std::vector<gid_t> groups(static_cast<size_t>(count));
    if (::getgrouplist(user.c_str(), gid, groups.data(), &count) < 0) {
        groups.resize(static_cast<size_t>(count));
        ::getgrouplist(user.c_str(), gid, groups.data(), &count);
    }
    if (::geteuid() == uid) return TryFolder(folder);
    // Another account, and no right to become it: its permission bits are all there is to go by.
    std::string why;
    if (::geteuid() != 0) return UserMayAccess(folder, user, acWrite | acSearch, why) ? 0 : EACCES;
    pid_t child = ::fork();
    if (child < 0) return errno;
    if (child == 0) {
        if (::setgroups(static_cast<size_t>(count), groups.data()) != 0 || ::setgid(gid) != 0 || ::setuid(uid) != 0) _exit(EPERM);
        _exit(TryFolder(folder));
    }
    int status = 0;
    while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : EIO;
}

// What the site's options make velmora write, besides the settings file and the log.
std::vector<TNeed> Needs(const TSite& site) {
    std::vector<TNeed> needs;
    const std::string state = StateFolder(site.Dir);
    const bool fileStore = !StoreSettings(site.Conf, site.Dir).Redis;
    if (fileStore && !site.Conf.Text("rate_limit").empty())
        needs.push_back({state, "the rate limit's counts (VELMORA.RATE)", "rate_limit counts nothing: every post is let through and logged"});
    if (fileStore && site.Conf.Text("altcha") == "required")
        needs.push_back({state, "the used proof-of-work solutions (VELMORA.USED)", "every solved post gets the error page"});
    if (!fileStore)
        needs.push_back({state, "the shared store's outage marker (VELMORA.STOREDOWN)", "each process logs an outage of its own"});
    if (site.Conf.Flag("outbox") || site.Conf.Text("delivery") == "background")
        needs.push_back({OutboxSettings(site.Conf, site.Dir).Folder, "kept mail",
                         "a mail the relay cannot take now (every mail, with delivery = background) is lost and the post gets the send-failed page"});
    if (site.Conf.Flag("attach_uploads"))
        needs.push_back({site.Dir + "Temp", "uploads on their way into the mail", "a post with a file gets the error page"});
    return needs;
}

}  // namespace

void CheckWorkingFiles(const TSite& site, TFindings& found) {
    for (const TNeed& need : Needs(site)) {
        int error = TryFolderAs(need.Folder, site.User);
        if (error == 0) continue;
        // The site folder itself stays the administrator's: the files go into a State folder instead.
        std::string folder = need.Folder == site.Dir ? site.Dir + "State" : need.Folder;
        if (folder.size() > 1 && folder.back() == '/') folder.pop_back();
        std::string fix = "velmora-ini site create " + site.Dir + " --user " + site.User + " (makes Log, State, Outbox and Temp " +
                          site.User + "'s), or: mkdir -p -m 700 " + folder + " && chown " + site.User + " " + folder;
        found.push_back({"working-files", site.User + " cannot create and replace files in " + need.Folder + " (" + std::strerror(error) +
                                              ") for " + need.What + ": " + need.Lost,
                         fix, {}});
    }
}

}  // namespace velmora
