// velmora-ini check, kept mail: mail due for a try long ago shows that nothing flushes the outbox
// (no timer, no cron line), which outbox = yes and delivery = background both need.
#include "Outbox.h"
#include "SiteCheck.h"

namespace velmora {

void CheckKeptMail(const TSite& site, TFindings& found) {
    if (!site.Conf.Flag("outbox") && site.Conf.Text("delivery") != "background") return;
    const std::string folder = OutboxSettings(site.Conf, site.Dir).Folder;
    // The timer runs every 5 minutes and a resident sender looks every 30 seconds: a quarter of an
    // hour overdue is no passing delay.
    const int64_t overdue = UnixNow() - 15 * 60;
    size_t waiting = 0;
    for (const TOutboxEntry& e : ListOutbox(folder)) waiting += e.NextTry < overdue;
    if (waiting == 0) return;
    std::string dir = site.Dir;
    if (dir.size() > 1 && dir.back() == '/') dir.pop_back();
    found.push_back({"outbox",
                     std::to_string(waiting) + " kept mail in " + folder +
                         " should have been tried more than 15 minutes ago: nothing flushes the outbox",
                     "systemctl enable --now velmora-outbox@$(systemd-escape --path " + dir +
                         ").timer, or a cron line running velmora-ini outbox flush " + dir + " as " + site.User,
                     {}});
}

}  // namespace velmora
