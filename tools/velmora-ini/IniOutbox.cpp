// velmora-ini's outbox command: lists the mail velmora kept for a later try, and delivers it
// (for cron or a systemd timer) with the relay and security the site's files give.
#include <ctime>
#include <ostream>

#include "Files.h"
#include "IniTool.h"
#include "MailSecurity.h"
#include "Outbox.h"
#include "SettingsFile.h"
#include "SysUtils.h"

namespace velmora {

namespace {

std::string UtcTime(int64_t seconds) {
    std::time_t t = static_cast<std::time_t>(seconds);
    std::tm tm {};
    gmtime_r(&t, &tm);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S UTC", &tm);
    return text;
}

int List(const std::string& folder, std::ostream& out) {
    int64_t now = UnixNow();
    size_t waiting = 0;
    auto entries = ListOutbox(folder);
    for (const TOutboxEntry& e : entries) {
        bool due = e.NextTry <= now;
        waiting += due ? 0 : 1;
        out << e.Name << "  queued " << UtcTime(e.Queued) << ", " << e.Attempts << " failed tries";
        if (e.Unanswered > 0) out << " (" << e.Unanswered << " with the data sent and no answer)";
        out << ", next try " << (due ? "now" : UtcTime(e.NextTry)) << "\n";
    }
    size_t aside = ListFiles(UndeliverableFolder(folder) + "/*.mail").size();
    out << entries.size() << " queued (" << waiting << " waiting for their retry time), " << aside
        << " undeliverable in " << UndeliverableFolder(folder) << "\n";
    return 0;
}

int Flush(const std::string& dir, const TSiteConfig& site, const std::string& folder, bool now, std::ostream& out,
          std::ostream& err) {
    std::string refusal = MailSecurityRefusal(site);
    if (!refusal.empty()) {
        err << "velmora-ini: " << refusal << "\n";
        return 1;
    }
    std::optional<TMailSettings> stored = ReadSettingsFile(dir + "VELMORA.INI");
    if (!stored) {
        err << "velmora-ini: " << dir << "VELMORA.INI does not exist: no relay to send to\n";
        return 1;
    }
    TFlushRun run = OutboxFlushRun(site, *stored, dir);
    run.IgnoreRetryTimes = now;
    run.Log = [&](const std::string& line) { out << line << "\n" << std::flush; };
    TFlushResult r = FlushOutbox(folder, run);
    if (r.Busy) {
        out << "Another process is delivering " << folder << " (or its .lock cannot be opened): nothing done\n";
        return 0;
    }
    out << r.Delivered << " delivered, " << r.Failed << " failed, " << r.MovedAside << " moved aside, " << r.Waiting
        << " waiting\n";
    return 0;
}

}  // namespace

int RunOutboxCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
    // args: "outbox", ACTION, DIR, [--now]
    bool now = args.size() == 4 && args[3] == "--now";
    if (args.size() < 3 || args.size() > 4 || (args.size() == 4 && !now) || (args[1] != "list" && args[1] != "flush")) {
        err << "velmora-ini: usage: velmora-ini outbox list|flush DIR [--now]\n";
        return 2;
    }
    std::string dir = args[2];
    if (!DirectoryExists(dir)) {
        err << "velmora-ini: " << dir << " is not a folder\n";
        return 2;
    }
    if (dir.back() != PathDelim) dir += PathDelim;
    auto log = [&](const std::string& line) { err << "velmora-ini: " << line << "\n"; };
    TSiteConfig site = TSiteConfig::ReadFile(dir + "VELMORA.CONF", GetFileStamp(dir + "VELMORA.CONF"), log);
    std::string folder = OutboxSettings(site, dir).Folder;
    if (args[1] == "list") return List(folder, out);
    return Flush(dir, site, folder, now, out, err);
}

}  // namespace velmora
