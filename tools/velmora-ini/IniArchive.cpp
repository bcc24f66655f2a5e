// velmora-ini's archive command: export, show, stats, purge, erase and resend the submissions a
// site's archive keeps, and init a PostgreSQL archive's tables; each on the site's own rows.
#include <algorithm>
#include <fstream>
#include <ostream>
#include <unordered_set>

#include "ArchiveExport.h"
#include "ArchiveStore.h"
#include "Files.h"
#include "IniTool.h"
#include "MailHeaders.h"
#include "MailSecurity.h"
#include "Outbox.h"
#include "SettingsFile.h"
#include "SysUtils.h"

namespace velmora {

namespace {

struct TArchiveArgs {
    std::string Action, Dir, Id, Address, Output;
    TExportFormat Format = TExportFormat::Csv;
    TArchiveFilter Filter;
};

constexpr const char* kUsage =
    "velmora-ini: usage: velmora-ini archive export|show|stats|purge|erase|resend|init DIR [ID] [OPTIONS]\n";

bool ParseFormat(const std::string& word, TExportFormat& format) {
    if (word == "csv") format = TExportFormat::Csv;
    else if (word == "json") format = TExportFormat::Json;
    else if (word == "ndjson") format = TExportFormat::Ndjson;
    else return false;
    return true;
}

bool ParseDate(const std::string& word, int64_t& ms, bool until) {
    ms = ParseUtcText(word);
    // A bare date as --until takes in the whole day.
    if (ms >= 0 && until && word.size() == 10) ms += 86400 * 1000;
    return ms >= 0;
}

bool KnownState(const std::string& state) {
    for (const std::string& s : SubmissionStates())
        if (s == state) return true;
    return false;
}

// False for a command line that does not fit its action.
bool ParseArgs(const std::vector<std::string>& args, TArchiveArgs& a) {
    if (args.size() < 3) return false;
    a.Action = args[1];
    a.Dir = args[2];
    for (size_t i = 3; i < args.size(); ++i) {
        const std::string& w = args[i];
        bool value = i + 1 < args.size();
        if (w == "--format" && value) {
            if (!ParseFormat(args[++i], a.Format)) return false;
        } else if (w == "--since" && value) {
            if (!ParseDate(args[++i], a.Filter.SinceMs, false)) return false;
        } else if (w == "--until" && value) {
            if (!ParseDate(args[++i], a.Filter.UntilMs, true)) return false;
        } else if (w == "--state" && value) {
            a.Filter.State = args[++i];
            if (!KnownState(a.Filter.State)) return false;
        } else if (w == "--output" && value) a.Output = args[++i];
        else if (w == "--address" && value) a.Address = args[++i];
        else if (w.rfind("--", 0) != 0 && a.Id.empty()) a.Id = w;
        else return false;
    }
    bool needsId = a.Action == "show" || a.Action == "resend";
    if (needsId && a.Id.empty()) return false;
    if (a.Action == "erase") return a.Id.empty() != a.Address.empty();
    return needsId || a.Id.empty();
}

void WriteExport(TArchiveStore& store, const TArchiveArgs& a, std::ostream& out) {
    if (a.Format == TExportFormat::Csv) {
        // The columns must be known before the first row.
        std::vector<std::string> names = store.FieldNames(a.Filter);
        out << CsvHeader(names);
        store.Each(a.Filter, [&](const TSubmission& s) { out << CsvRow(s, names); });
        return;
    }
    // JSON carries the uploads' bytes (base64) when the site keeps them; a spreadsheet cannot.
    TArchiveFilter filter = a.Filter;
    filter.UploadBytes = true;
    bool json = a.Format == TExportFormat::Json, first = true;
    if (json) out << "[\n";
    store.Each(filter, [&](const TSubmission& s) {
        if (json && !first) out << ",\n";
        out << JsonObject(s) << (json ? "" : "\n");
        first = false;
    });
    if (json) out << (first ? "]\n" : "\n]\n");
}

void Stats(TArchiveStore& store, std::ostream& out) {
    TArchiveStats st = store.Stats();
    int64_t total = 0;
    for (const auto& [state, count] : st.Counts) {
        out << state << " " << count << "\n";
        total += count;
    }
    out << "total " << total << "\n";
    out << "oldest " << (st.OldestMs ? UtcText(st.OldestMs) : "-") << "\n";
    out << "bytes " << st.Bytes << "\n";
}

// The stored post composed as a new mail: its fields as "name: value" lines, to the recipients it
// had, from the site's sender; through the outbox when the relay cannot take it now and it is on.
int Resend(const std::string& dir, const TSiteConfig& site, const TSubmission& s, std::ostream& out, std::ostream& err) {
    std::string refusal = MailSecurityRefusal(site);
    std::optional<TMailSettings> stored = ReadSettingsFile(dir + "VELMORA.INI");
    if (!refusal.empty() || !stored || s.Recipients.empty()) {
        err << "velmora-ini: not resent: "
            << (!refusal.empty() ? refusal : !stored ? dir + "VELMORA.INI does not exist" : "the submission had no recipients")
            << "\n";
        return 1;
    }
    TSmtpSendMail mail(nullptr);
    mail.RemoteHost = stored->Get(TMailField::mailhost);
    mail.RemotePort = stored->Get(TMailField::mailport);
    mail.MailFrom = stored->Get(TMailField::mailfrom);
    mail.MailTo = s.Recipients;
    mail.MailSubject = s.Subject;
    mail.MailHeader().Add(DateHeaderLine());
    mail.MailHeader().Add(MessageIdHeaderLine(mail.MailFrom));
    if (!s.Charset.empty()) SetHeaderCharset(mail.MailHeader(), s.Charset);
    for (const auto& [name, value] : s.Fields) mail.MailBody().Add(name + ": " + value);
    mail.Security = MailSecurity(site, true, dir);
    if (mail.Send(20)) {
        out << "Submission " << s.Id << " resent to " << s.Recipients << "\n";
        return 0;
    }
    TOutboxSettings outbox = OutboxSettings(site, dir);
    if (outbox.Enabled && !mail.PermanentFailure() && !mail.DataAccepted()) {
        std::string name = QueueMail(outbox.Folder, mail, TQueuedRelay{});
        out << "Submission " << s.Id << " kept in the outbox as " << name << " (" << Trim(mail.GetErrorText()) << ")\n";
        return 0;
    }
    err << "velmora-ini: submission " << s.Id << " not resent: " << Trim(mail.GetErrorText()) << "\n";
    return 1;
}

int Run(TArchiveStore& store, const TArchiveArgs& a, const TSiteConfig& site, std::ostream& out, std::ostream& err) {
    if (a.Action == "init") {
        out << "Archive ready, schema version " << store.Init() << "\n";
        return 0;
    }
    if (a.Action == "stats") {
        Stats(store, out);
        return 0;
    }
    if (a.Action == "purge") {
        out << store.Purge(true) << " removed\n";
        return 0;
    }
    if (a.Action == "erase") {
        std::vector<std::string> ids = a.Id.empty() ? store.HoldingAddress(a.Address) : std::vector<std::string>{a.Id};
        out << store.Erase(ids) << " removed\n";
        return 0;
    }
    if (a.Action == "export") {
        if (a.Output.empty()) {
            WriteExport(store, a, out);
            return 0;
        }
        std::ofstream file(a.Output, std::ios::binary | std::ios::trunc);
        WriteExport(store, a, file);
        file.close();
        if (!file) err << "velmora-ini: " << a.Output << " cannot be written\n";
        return file ? 0 : 1;
    }
    std::optional<TSubmission> s = store.Get(a.Id);
    if (!s) {
        err << "velmora-ini: no submission " << a.Id << " in this site's archive\n";
        return 1;
    }
    if (a.Action == "show") {
        out << JsonObject(*s) << "\n";
        return 0;
    }
    return Resend(a.Dir, site, *s, out, err);
}

}  // namespace

int RunArchiveCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
    TArchiveArgs a;
    static const std::vector<std::string> actions{"export", "show", "stats", "purge", "erase", "resend", "init"};
    if (!ParseArgs(args, a) || std::find(actions.begin(), actions.end(), a.Action) == actions.end()) {
        err << kUsage;
        return 2;
    }
    if (!DirectoryExists(a.Dir)) {
        err << "velmora-ini: " << a.Dir << " is not a folder\n";
        return 2;
    }
    if (a.Dir.back() != PathDelim) a.Dir += PathDelim;
    auto log = [&](const std::string& line) { err << "velmora-ini: " << line << "\n"; };
    TSiteConfig site = TSiteConfig::ReadFile(a.Dir + "VELMORA.CONF", GetFileStamp(a.Dir + "VELMORA.CONF"), log);
    TArchiveSettings settings = ArchiveSettings(site, a.Dir);
    if (settings.Kind == TArchiveKind::Off) {
        err << "velmora-ini: " << a.Dir << "VELMORA.CONF keeps no archive (archive = off)\n";
        return 1;
    }
    try {
        std::unique_ptr<TArchiveStore> store = OpenArchive(settings);
        return Run(*store, a, site, out, err);
    } catch (const std::exception& e) {
        err << "velmora-ini: archive: " << e.what() << "\n";
        return 1;
    }
}

}  // namespace velmora
