// velmora-ini check: a site folder read as velmora would read it, each problem found reported with
// the fix. Each Check* function looks at one part of the site and adds what it finds.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "MailSettings.h"
#include "SiteConfig.h"

namespace velmora {

struct TFinding {
    std::string Area;     // settings, allowed-list, conf, modes, templates, relay, store, archive
    std::string Problem;  // what is wrong, and what velmora does because of it
    std::string Fix;      // what to do about it
    std::vector<std::string> Transcript;  // the relay's dialogue, when it is the relay that failed
};
using TFindings = std::vector<TFinding>;

// The site as velmora reads it.
struct TSite {
    std::string Dir;   // ends in "/"
    std::string User;  // the account the web server runs velmora as
    std::optional<TMailSettings> Settings;  // none when VELMORA.INI is missing or unusable
    TSiteConfig Conf;
};

// Reads VELMORA.INI and VELMORA.CONF, reporting the settings file's record count and field
// lengths and every line of VELMORA.CONF velmora would log and ignore.
TSite ReadSite(const std::string& dir, const std::string& user, TFindings& found);
void CheckAllowedList(const TSite& site, TFindings& found);
void CheckTemplates(const TSite& site, TFindings& found);
// Secrets others may read, files the web server's account cannot write, a folder web servers serve.
void CheckModes(const TSite& site, TFindings& found);
// Each folder a switched-on option makes and replaces files in (State, Outbox, Temp), tried as the
// web server's account.
void CheckWorkingFiles(const TSite& site, TFindings& found);
// Kept mail long overdue for its try: nothing runs the flush command for the site.
void CheckKeptMail(const TSite& site, TFindings& found);
// The relay of the settings file, tried with the site's TLS and login, without sending mail.
void CheckRelay(const TSite& site, TFindings& found);
// The shared store that counts rate limits and single-use tokens: `file` (beside the program)
// needs nothing here; a Redis store is connected to, logged in to and asked PING.
void CheckSharedStore(const TSite& site, TFindings& found);
// The archive (archive = sqlite or a PostgreSQL address) opened and written to, rolled back.
void CheckArchive(const TSite& site, TFindings& found);

// The findings as text (a line each, the relay's dialogue indented under it) or as JSON.
std::string FindingsText(const TFindings& found);
std::string FindingsJson(const TFindings& found);

}  // namespace velmora
