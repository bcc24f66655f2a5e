// velmora-ini check, the archive: the site's archive is opened with its login, its tables made
// when missing and a row written and rolled back, so a wrong address or a read-only file shows
// before posts are mailed without being kept.
#include "ArchiveStore.h"
#include "SiteCheck.h"

namespace velmora {

void CheckArchive(const TSite& site, TFindings& found) {
    const TArchiveSettings settings = ArchiveSettings(site.Conf, site.Dir);
    if (settings.Kind == TArchiveKind::Off) return;
    const std::string name = settings.Kind == TArchiveKind::Sqlite ? "archive " + settings.File
                                                                     : "archive " + ArchiveAddressForLog(settings.Address);
    try {
        OpenArchive(settings)->Probe();
    } catch (const std::exception& e) {
        found.push_back({"archive", name + " cannot be written: " + e.what() + "; posts are mailed but not kept",
                         settings.Kind == TArchiveKind::Sqlite
                             ? "let the web server's account write " + settings.File + " and its folder"
                             : "start the database, or correct the address, user and password in archive",
                         {}});
    }
}

}  // namespace velmora
