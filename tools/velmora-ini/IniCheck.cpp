// velmora-ini check DIR [--user USER] [--json]: runs every check of the site folder and prints what
// it found, one problem a line with its fix; the exit code says whether anything was found.
#include <ostream>

#include "Files.h"
#include "IniTool.h"
#include "JsonText.h"
#include "SiteCheck.h"
#include "UserAccess.h"

namespace velmora {

namespace {

struct TCheckArgs {
    std::string Dir, User;
    bool Json = false;
};

bool ParseCheckArgs(const std::vector<std::string>& args, TCheckArgs& parsed, std::string& error) {
    for (size_t i = 1; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (a == "--json") parsed.Json = true;
        else if (a == "--user" && i + 1 < args.size()) parsed.User = args[++i];
        else if (a.rfind("--user=", 0) == 0) parsed.User = a.substr(7);
        else if (a.empty() || a[0] == '-' || !parsed.Dir.empty()) {
            error = "check: unexpected \"" + a + "\"; usage: velmora-ini check DIR [--user USER] [--json]";
            return false;
        } else parsed.Dir = a;
    }
    if (parsed.Dir.empty()) error = "check needs a DIR; usage: velmora-ini check DIR [--user USER] [--json]";
    else if (!DirectoryExists(parsed.Dir)) error = parsed.Dir + " is not a folder";
    if (parsed.User.empty()) parsed.User = CurrentUserName();
    return error.empty();
}

}  // namespace

std::string FindingsText(const TFindings& found) {
    std::string text;
    for (const TFinding& f : found) {
        text += f.Area + ": " + f.Problem + " -- fix: " + f.Fix + "\n";
        for (const std::string& step : f.Transcript) text += "    " + step + "\n";
    }
    return text;
}

std::string FindingsJson(const TFindings& found) {
    std::string json = "{\"problems\":[";
    for (size_t i = 0; i < found.size(); ++i) {
        const TFinding& f = found[i];
        json += std::string(i ? "," : "") + "{\"area\":" + JsonString(f.Area) + ",\"problem\":" + JsonString(f.Problem) +
                ",\"fix\":" + JsonString(f.Fix) + ",\"transcript\":[";
        for (size_t j = 0; j < f.Transcript.size(); ++j) json += (j ? "," : "") + JsonString(f.Transcript[j]);
        json += "]}";
    }
    return json + "]}\n";
}

int RunCheckCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
    TCheckArgs parsed;
    std::string error;
    if (!ParseCheckArgs(args, parsed, error)) {
        err << "velmora-ini: " << error << "\n";
        return 2;
    }
    TFindings found;
    TSite site = ReadSite(parsed.Dir, parsed.User, found);
    CheckAllowedList(site, found);
    CheckTemplates(site, found);
    CheckModes(site, found);
    CheckWorkingFiles(site, found);
    CheckKeptMail(site, found);
    CheckRelay(site, found);
    CheckSharedStore(site, found);
    CheckArchive(site, found);
    out << (parsed.Json ? FindingsJson(found) : FindingsText(found));
    return found.empty() ? 0 : 1;
}

}  // namespace velmora
