// The site's archive keys read into one value: where the archive is, how long it keeps what, and
// how long a post may wait for it. Read per request from VELMORA.CONF like every other key.
#pragma once

#include <string>

#include "SiteConfig.h"

namespace velmora {

enum class TArchiveKind { Off, Sqlite, Postgresql };

struct TArchiveSettings {
    TArchiveKind Kind = TArchiveKind::Off;
    std::string File;     // SQLite: absolute path of the database file
    std::string Address;  // PostgreSQL: the connection address as written
    std::string Site;     // the site's store prefix
    long Days = 90;
    bool DropDelivered = false;
    bool Uploads = false;
    bool Spam = true;
    long TimeoutMs = 2000;
    long MaxUploadBytes = 0;
};

// Spam is kept for a shorter time and in a bounded number, whatever archive_days says.
constexpr long kSpamDays = 30;
constexpr long kMostSpam = 10000;

TArchiveSettings ArchiveSettings(const TSiteConfig& site, const std::string& programDir);

// The address with its password replaced by "***", for log lines and check output.
std::string ArchiveAddressForLog(const std::string& value);

}  // namespace velmora
