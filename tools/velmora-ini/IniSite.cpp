// velmora-ini site create|update: lays out a site folder from the installed program (the program
// beside its side files, as velmora finds them), and puts a newer program there after an upgrade.
#include <ostream>

#include "FilePlacement.h"
#include "Files.h"
#include "IniTool.h"
#include "SettingsFile.h"
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

int Create(const TSiteArgs& a, std::ostream& out, std::ostream& err) {
    if (!DirectoryExists(a.Folder) && !CreateDir(a.Folder, 0755)) return Fail(err, "cannot make " + a.Folder);
    const std::string ini = a.Folder + "/VELMORA.INI";
    // A site's settings and counter stay; only the fields given change. Settings and account
    // come first, so that a refused field or account leaves no program in the folder.
    std::vector<std::string> command = {FileExists(ini) ? "set" : "create", ini};
    command.insert(command.end(), a.Fields.begin(), a.Fields.end());
    if (command[0] == "create" || !a.Fields.empty()) {
        int code = RunIniTool(command, out, err);
        if (code != 0) return code;
    }
    if (!a.User.empty()) {
        // The log holds visitor addresses and form values: the web server's account and group only.
        const std::string log = a.Folder + "/Log";
        if (!DirectoryExists(log) && !CreateDir(log, 0750)) return Fail(err, "cannot make " + log);
        SetMode(log, 0750);
        std::string error;
        for (const std::string& path : {ini, log})
            if (!GiveToUser(path, a.User, error)) return Fail(err, error);
    }
    if (!PlacePrograms(a, out, err)) return 1;
    WriteSampleAllowedList(a.Folder);
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
