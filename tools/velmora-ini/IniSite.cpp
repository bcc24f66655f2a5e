// velmora-ini site create|update: lays out a site folder from the installed program (the program
// beside its side files, as velmora finds them), and puts a newer program there after an upgrade.
#include <ostream>

#include "FilePlacement.h"
#include "Files.h"
#include "IniTool.h"
#include "SettingsFile.h"
#include "SiteConfig.h"
#include "SysUtils.h"
#include "System.h"

namespace velmora {

namespace {

struct TSiteArgs {
    std::string Folder, User, Program;
    std::vector<std::string> Fields;
};

// Where the program lies relative to this tool: the package's /usr/bin/../lib/velmora, or the
// build tree's tools/../app. The TLS module lies beside the program, or in the build's net/.
std::string InstalledProgram() {
    const std::string here = ExtractFilePath(GetModuleFileName());
    for (const char* relative : {"../lib/velmora/velmora", "../app/velmora"})
        if (FileExists(here + relative)) return RealPath(here + relative);
    return {};
}

std::string TlsModuleFor(const std::string& program) {
    const std::string dir = ExtractFilePath(program);
    for (const std::string& candidate : {dir + "velmora-tls.so", dir + "../net/velmora-tls.so"})
        if (FileExists(candidate)) return candidate;
    return {};
}

int Fail(std::ostream& err, const std::string& message, int code = 1) {
    err << "velmora-ini: site: " << message << "\n";
    return code;
}

// Takes the words after "create" or "update"; false with the reason when they do not fit.
bool ParseSiteArgs(const std::vector<std::string>& args, bool fieldsAllowed, TSiteArgs& a, std::string& why) {
    for (size_t i = 2; i < args.size(); ++i) {
        const std::string& arg = args[i];
        const bool last = i + 1 >= args.size();
        if ((arg == "--user" || arg == "--program") && last) return why = arg + " needs a value", false;
        if (arg == "--user") a.User = args[++i];
        else if (arg == "--program") a.Program = args[++i];
        else if (arg.rfind("--", 0) == 0) return why = "unknown option " + arg, false;
        else if (arg.find('=') != std::string::npos && fieldsAllowed) a.Fields.push_back(arg);
        else if (a.Folder.empty()) a.Folder = arg;
        else return why = "one site folder only, not also " + arg, false;
    }
    if (a.Folder.empty()) return why = "the site folder is missing", false;
    if (!IsAbsolutePath(a.Folder)) return why = "the site folder must be an absolute path", false;
    while (a.Folder.size() > 1 && a.Folder.back() == PathDelim) a.Folder.pop_back();
    if (a.Program.empty()) a.Program = InstalledProgram();
    if (a.Program.empty() || !IsRegularFile(a.Program)) return why = "no velmora program found; give --program FILE", false;
    return true;
}

// The program and its TLS module into the folder: hard links when the folder lies on the
// program's file system (an upgrade then needs `site update`), else copies.
bool PlacePrograms(const TSiteArgs& a, std::ostream& out, std::ostream& err) {
    std::string error;
    TPlaced how = PlaceFile(a.Program, a.Folder + "/velmora", 0755, true, error);
    if (how == TPlaced::Failed) {
        Fail(err, error);
        return false;
    }
    out << "velmora placed in " << a.Folder << (how == TPlaced::Linked ? " (hard link)" : " (copy)") << "\n";
    const std::string tls = TlsModuleFor(a.Program);
    if (tls.empty()) {
        out << "no TLS module velmora-tls.so beside " << a.Program << ": mail to a relay over TLS will fail\n";
        return true;
    }
    // Loaded only for a relay reached over TLS; not executable, so no server starts it as a program.
    if (PlaceFile(tls, a.Folder + "/velmora-tls.so", 0644, true, error) != TPlaced::Failed) return true;
    Fail(err, error);
    return false;
}

// A new allowed list holds the stored recipient, else sample lines that allow nothing real.
void WriteSampleAllowedList(const std::string& folder) {
    const std::string path = folder + "/VELMORA.ALL";
    if (PathExists(path)) return;
    auto settings = ReadSettingsFile(folder + "/VELMORA.INI");
    std::string mailto = settings ? Trim(settings->Get(TMailField::mailto)) : std::string();
    AppendToFile(path, mailto.empty() ? "webmaster@example.org\nsales@example.org\nsupport@example.org\n" : mailto + "\n", 0644);
}

// The folder and each missing one above it, as `mkdir -p` would make them.
bool MakeFolders(const std::string& folder) {
    for (size_t slash = folder.find(PathDelim, 1); ; slash = folder.find(PathDelim, slash + 1)) {
        const std::string part = folder.substr(0, slash);
        if (!DirectoryExists(part) && !CreateDir(part, 0755)) return false;
        if (slash == std::string::npos) return true;
    }
}

// The folders velmora creates and replaces files in while it serves, each the web server's account's
// alone: Log (the log), State (rate counts, used proof-of-work tokens, the store's outage marker),
// Outbox (kept mail) and Temp (uploads on their way into a mail). The site folder itself, the
// program and VELMORA.CONF stay the administrator's, so that account cannot change what it runs.
bool MakeWritableFolders(const TSiteArgs& a, std::ostream& err) {
    struct TFolder { const char* Name; unsigned Mode; };
    for (const TFolder& f : {TFolder{"Log", 0750}, TFolder{"State", 0700}, TFolder{"Outbox", 0700}, TFolder{"Temp", 0700}}) {
        const std::string path = a.Folder + "/" + f.Name;
        if (!DirectoryExists(path) && !CreateDir(path, f.Mode)) return Fail(err, "cannot make " + path), false;
        SetMode(path, f.Mode);
        std::string error;
        if (!a.User.empty() && !GiveToUser(path, a.User, error)) return Fail(err, error), false;
    }
    return true;
}

// Mail that velmora keeps (outbox = yes, or every mail with delivery = background) and a running
// server does not deliver waits for the flush command: the timer runs it for the site.
void TellAboutFlushTimer(const TSiteArgs& a, std::ostream& out) {
    const std::string conf = a.Folder + "/VELMORA.CONF";
    TSiteConfig site = TSiteConfig::ReadFile(conf, GetFileStamp(conf), [](const std::string&) {});
    if (!site.Flag("outbox") && site.Text("delivery") != "background") return;
    out << "VELMORA.CONF keeps mail: enable its delivery every 5 minutes with\n"
           "  systemctl enable --now velmora-outbox@$(systemd-escape --path " << a.Folder << ").timer\n";
}

int Create(const TSiteArgs& a, std::ostream& out, std::ostream& err) {
    if (!MakeFolders(a.Folder)) return Fail(err, "cannot make " + a.Folder);
    const std::string ini = a.Folder + "/VELMORA.INI";
    // A site's settings and counter stay; only the fields given change. Settings and account
    // come first, so that a refused field or account leaves no program in the folder.
    std::vector<std::string> command = {FileExists(ini) ? "set" : "create", ini};
    command.insert(command.end(), a.Fields.begin(), a.Fields.end());
    if (command[0] == "create" || !a.Fields.empty()) {
        int code = RunIniTool(command, out, err);
        if (code != 0) return code;
    }
    // The log, the counts and kept mail hold visitors' addresses and form values: that account's only.
    if (!MakeWritableFolders(a, err)) return 1;
    std::string error;
    if (!a.User.empty() && !GiveToUser(ini, a.User, error)) return Fail(err, error);
    if (!PlacePrograms(a, out, err)) return 1;
    WriteSampleAllowedList(a.Folder);
    TellAboutFlushTimer(a, out);
    return RunIniTool({"show", ini}, out, err);
}

int Update(const TSiteArgs& a, std::ostream& out, std::ostream& err) {
    // Only a site: an update never lays out a folder that was not one.
    if (!FileExists(a.Folder + "/VELMORA.INI") || !FileExists(a.Folder + "/velmora"))
        return Fail(err, a.Folder + " holds no velmora site (VELMORA.INI and velmora); make one with site create");
    return PlacePrograms(a, out, err) ? 0 : 1;
}

}  // namespace

int RunSiteCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
    const std::string action = args.size() > 1 ? args[1] : "";
    if (action != "create" && action != "update") return Fail(err, "say create or update; see velmora-ini site --help", 2);
    TSiteArgs a;
    std::string why;
    if (!ParseSiteArgs(args, action == "create", a, why)) return Fail(err, why, 2);
    return action == "create" ? Create(a, out, err) : Update(a, out, err);
}

}  // namespace velmora
