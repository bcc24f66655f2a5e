// velmora-ini check, the side files: the settings record, VELMORA.CONF's lines, the allowed list and
// the answer template, each read through the code velmora itself reads them with.
#include "AllowedList.h"
#include "Files.h"
#include "HttpFileFilter.h"
#include "SettingsFile.h"
#include "SiteCheck.h"
#include "StringList.h"
#include "SysUtils.h"

namespace velmora {

namespace {

std::string Count(size_t n) { return IntToStr(static_cast<long long>(n)); }

void CheckRecords(const TSite& site, size_t size, TFindings& found) {
    std::string ini = site.Dir + "VELMORA.INI";
    if (size == 0) {
        found.push_back({"settings", ini + " is empty: every post gets the refusal page and nothing is mailed",
                         "velmora-ini create --force " + site.Dir + " mailfrom=... mailto=... mailhost=... mailport=25", {}});
    } else if (size % MailSettingsSize != 0) {
        found.push_back({"settings", ini + " is " + Count(size) + " bytes, not a whole number of " + Count(MailSettingsSize) +
                                         "-byte records: its last part overwrites the start of the record before it",
                         "see what it holds with velmora-ini show " + site.Dir + ", then write it anew with velmora-ini create --force",
                         {}});
    } else if (size > static_cast<size_t>(MailSettingsSize)) {
        found.push_back({"settings", ini + " holds " + Count(size / MailSettingsSize) + " records: velmora uses the last",
                         "velmora-ini set " + site.Dir + " FIELD=VALUE leaves the last record alone in the file", {}});
    }
}

void CheckFields(const TSite& site, TFindings& found) {
    const TMailSettings& s = *site.Settings;
    for (const TMailFieldInfo& f : MailFields()) {
        auto length = static_cast<unsigned char>(s.Bytes()[static_cast<size_t>(f.Offset)]);
        if (length > f.Capacity)
            found.push_back({"settings", std::string("field ") + f.Name + " says it is " + Count(length) +
                                             " characters long, but holds at most " + Count(static_cast<size_t>(f.Capacity)) +
                                             ": velmora reads only that many",
                             "velmora-ini set " + site.Dir + " " + f.Name + "=VALUE", {}});
    }
    for (TMailField field : {TMailField::mailto, TMailField::mailhost})
        if (Trim(s.Get(field)).empty())
            found.push_back({"settings", std::string(MailFieldInfo(field).Name) + " is empty: a form without its own gets no mail sent",
                             "velmora-ini set " + site.Dir + " " + MailFieldInfo(field).Name + "=VALUE", {}});
}

std::optional<TMailSettings> ReadSettings(const TSite& site, TFindings& found) {
    std::string ini = site.Dir + "VELMORA.INI";
    size_t size = 0;
    std::optional<TMailSettings> settings;
    try {
        settings = ReadSettingsFile(ini, &size);
    } catch (const Exception& e) {
        found.push_back({"settings", ini + " cannot be read: " + e.Message(),
                         "chown " + site.User + " " + ini + " && chmod 600 " + ini, {}});
        return std::nullopt;
    }
    if (!settings) {
        found.push_back({"settings", ini + " is missing: velmora answers no post and mails nothing",
                         "velmora-ini create " + site.Dir + " mailfrom=... mailto=... mailhost=... mailport=25", {}});
        return std::nullopt;
    }
    CheckRecords(site, size, found);
    if (size == 0) return std::nullopt;
    return settings;
}

std::string ConfFix(TConfProblem kind, const std::string& conf) {
    switch (kind) {
    case TConfProblem::Unreadable: return "make " + conf + " a file the web server's account can read (chmod 600, owned by it)";
    case TConfProblem::TooLong: return "shorten it: velmora reads 64 KB of the file and 4096 bytes of a line";
    case TConfProblem::NotKeyValue: return "write key = value, or begin the line with # to keep it as a comment";
    case TConfProblem::UnknownKey: return "correct the key's name, or remove the line";
    case TConfProblem::BadValue: return "write a value as said, or remove the line for the default";
    }
    return "";
}

}  // namespace

TSite ReadSite(const std::string& dir, const std::string& user, TFindings& found) {
    TSite site;
    site.Dir = dir.back() == PathDelim ? dir : dir + PathDelim;
    site.User = user;
    site.Settings = ReadSettings(site, found);
    if (site.Settings) CheckFields(site, found);
    std::string conf = site.Dir + "VELMORA.CONF";
    site.Conf = TSiteConfig::ReadFileReporting(conf, GetFileStamp(conf), [&](TConfProblem kind, const std::string& message) {
        found.push_back({"conf", message, ConfFix(kind, conf), {}});
    });
    return site;
}

void CheckAllowedList(const TSite& site, TFindings& found) {
    std::string all = site.Dir + "VELMORA.ALL";
    if (!FileExists(all)) return;
    TStringList lines;
    try {
        lines.LoadFromFile(all);
    } catch (const Exception& e) {
        found.push_back({"allowed-list", all + " cannot be read: " + e.Message() + "; velmora cannot read it either",
                         "make it readable by " + site.User + " (chmod 644 " + all + ")", {}});
        return;
    }
    for (int n = 0; n < lines.Count(); ++n) {
        for (const std::string& entry : EntriesAllowingNothing(lines[n]))
            found.push_back({"allowed-list", all + " line " + Count(static_cast<size_t>(n) + 1) + " entry \"" + entry.substr(0, 80) + "\" allows nothing",
                             "write whole addresses (name@example.org), @domain or domain.tld, separated by blanks, commas or semicolons", {}});
    }
}

void CheckTemplates(const TSite& site, TFindings& found) {
    if (!site.Settings) return;
    std::string name = site.Settings->Get(TMailField::htmlfile);
    if (name.empty()) return;
    std::string path = ResolveTemplatePath(name, site.Dir + "velmora");
    TFileStamp stamp = GetFileStamp(path);
    if (!stamp.Exists || !stamp.Regular) {
        found.push_back({"templates", "htmlfile " + path + " is missing: a post is mailed, then answered with an error",
                         "put the answer page there, or velmora-ini set " + site.Dir + " htmlfile= for the thank-you page", {}});
        return;
    }
    std::string real = RealPath(path), folder = RealPath(site.Dir);
    if (real.compare(0, folder.size() + 1, folder + "/") != 0)
        found.push_back({"templates", "htmlfile " + path + " lies outside the site folder " + folder,
                         "copy it into " + folder + " and velmora-ini set " + site.Dir + " htmlfile=NAME", {}});
}

}  // namespace velmora
