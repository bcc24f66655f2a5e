// velmora-ini check, the working files: each folder a switched-on option makes and replaces files
// in is tried for real as the web server's account (a child that becomes it), not from mode bits.
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
        int error = TryWritingAs(need.Folder, site.User);
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
