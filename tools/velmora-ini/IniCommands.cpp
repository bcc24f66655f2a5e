// The commands of velmora-ini (create, show, set) and their argument checks. Every value is checked
// against its field before the file is touched, so a refused command leaves the file as it was.
#include <optional>
#include <ostream>

#include "Files.h"
#include "IniTool.h"
#include "MailSettings.h"
#include "SettingsFile.h"
#include "SysUtils.h"

namespace velmora {

namespace {

// A command-line mistake (exit 2) or a file that cannot be used (exit 1).
struct UsageError : Exception { using Exception::Exception; };
struct FileError : Exception { using Exception::Exception; };

// One FIELD=VALUE: either the counter or a string field.
struct Assignment {
    bool IsCounter = false;
    TMailField Field = TMailField::htmlfile;
    int32_t Counter = 0;
    std::string Value;
};

std::string FieldList() {
    std::string names = "Counter";
    for (const auto& f : MailFields()) names += std::string(", ") + f.Name;
    return names;
}

Assignment ParseAssignment(const std::string& arg) {
    size_t eq = arg.find('=');
    if (eq == std::string::npos) throw UsageError("expected FIELD=VALUE, got \"" + arg + "\"");
    std::string name = arg.substr(0, eq);
    Assignment a;
    a.Value = arg.substr(eq + 1);
    if (UpperCase(name) == "COUNTER") {
        a.IsCounter = true;
        if (!TryStrToInt(a.Value, a.Counter))
            throw UsageError("Counter must be a whole number from -2147483648 to 2147483647, got \"" + a.Value + "\"");
        return a;
    }
    if (!FindMailField(name, a.Field))
        throw UsageError("unknown field \"" + name + "\"; the fields are " + FieldList());
    int capacity = MailFieldInfo(a.Field).Capacity;
    if (a.Value.size() > static_cast<size_t>(capacity))
        throw UsageError(std::string(MailFieldInfo(a.Field).Name) + ": the value is " + IntToStr(static_cast<long long>(a.Value.size())) +
                         " characters long; the field holds at most " + IntToStr(capacity));
    return a;
}

void Apply(const std::vector<Assignment>& assignments, TMailSettings& s) {
    for (const auto& a : assignments) {
        if (a.IsCounter) s.SetCounter(a.Counter);
        else s.Set(a.Field, a.Value);
    }
}

// A folder stands for the VELMORA.INI inside it.
std::string SettingsPath(const std::string& arg) {
    if (DirectoryExists(arg)) return arg + (arg.back() == PathDelim ? "" : "/") + "VELMORA.INI";
    return arg;
}

void CheckWholeRecords(const std::string& path, size_t size) {
    if (size == 0 || size % MailSettingsSize != 0)
        throw FileError(path + ": " + IntToStr(static_cast<long long>(size)) +
                        " bytes is not a whole number of " + IntToStr(MailSettingsSize) + "-byte settings records");
}

// Control bytes and the backslash escaped so that every field stays on one line.
std::string Printable(const std::string& v) {
    static const char hex[] = "0123456789ABCDEF";
    std::string out;
    for (char c : v) {
        auto b = static_cast<unsigned char>(c);
        if (b == '\\') out += "\\\\";
        else if (b < 0x20 || b == 0x7F) out += std::string("\\x") + hex[b >> 4] + hex[b & 15];
        else out += c;
    }
    return out;
}

int Create(const std::string& path, const std::vector<std::string>& rest, std::ostream& out) {
    bool force = false;
    std::vector<Assignment> assignments;
    for (const auto& arg : rest) {
        if (arg == "--force") force = true;
        else assignments.push_back(ParseAssignment(arg));
    }
    TMailSettings fresh;
    Apply(assignments, fresh);
    if (FileExists(path)) {
        if (!force) throw FileError(path + " exists; give --force to replace it");
        // Replaced under the program's lock, so a request counting at this moment is not lost
        // half-way; the new record wins.
        if (UpdateSettingsFile(path, [&](TMailSettings& s, size_t) { s = fresh; }).Found == TSettingsFound::Record) {
            out << "replaced " << path << "\n";
            return 0;
        }
    }
    WriteSettingsFile(path, fresh);
    out << "created " << path << "\n";
    return 0;
}

int Show(const std::string& path, std::ostream& out) {
    size_t size = 0;
    std::optional<TMailSettings> s = ReadSettingsFile(path, &size);
    if (!s) throw FileError(path + " does not exist");
    CheckWholeRecords(path, size);
    out << "Counter=" << s->Counter() << "\n";
    for (const auto& f : MailFields()) out << f.Name << "=" << Printable(s->Get(f.Field)) << "\n";
    size_t records = size / MailSettingsSize;
    out << "# " << records << (records == 1 ? " record" : " records (the last is shown and used)")
        << "; date line " << (s->DateLine() ? "on" : "off") << ", numbered subject "
        << (s->NumberedSubject() ? "on" : "off") << "\n";
    return 0;
}

int Set(const std::string& path, const std::vector<std::string>& rest, std::ostream& out) {
    if (rest.empty()) throw UsageError("set needs at least one FIELD=VALUE");
    std::vector<Assignment> assignments;
    for (const auto& arg : rest) assignments.push_back(ParseAssignment(arg));
    auto written = UpdateSettingsFile(path, [&](TMailSettings& s, size_t size) {
        CheckWholeRecords(path, size);
        Apply(assignments, s);
    });
    if (written.Found == TSettingsFound::NoFile)
        throw FileError(path + " does not exist; make it with velmora-ini create");
    if (written.Found == TSettingsFound::NoRecord)
        throw FileError(path + " is empty; make a record with velmora-ini create --force");
    out << "updated " << path << "\n";
    return 0;
}

bool WantsHelp(const std::vector<std::string>& args) {
    for (const auto& a : args)
        if (a == "--help" || a == "-h") return true;
    return false;
}

int Dispatch(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
    const std::string& command = args[0];
    if (command == "help") {
        std::string topic = args.size() > 1 ? args[1] : "";
        if (topic == "--help" || topic == "-h") topic = "help";
        std::string text = IniHelpText(topic);
        if (text.empty()) throw UsageError("no command \"" + args[1] + "\"");
        out << text;
        return 0;
    }
    if (IniHelpText(command).empty()) throw UsageError("no command \"" + command + "\"; see velmora-ini --help");
    if (WantsHelp(args)) {
        out << IniHelpText(command);
        return 0;
    }
    if (command == "outbox") return RunOutboxCommand(args, out, err);
    if (command == "archive") return RunArchiveCommand(args, out, err);
    if (command == "check") return RunCheckCommand(args, out, err);
    if (command == "site") return RunSiteCommand(args, out, err);
    if (args.size() < 2) throw UsageError(command + " needs a FILE; see velmora-ini " + command + " --help");
    std::string path = SettingsPath(args[1]);
    std::vector<std::string> rest(args.begin() + 2, args.end());
    if (command == "create") return Create(path, rest, out);
    if (command == "set") return Set(path, rest, out);
    if (!rest.empty()) throw UsageError("show takes only a FILE");
    return Show(path, out);
}

}  // namespace

int RunIniTool(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
    if (args.empty() || args[0] == "--help" || args[0] == "-h") {
        (args.empty() ? err : out) << IniHelpText("");
        return args.empty() ? 2 : 0;
    }
    try {
        return Dispatch(args, out, err);
    } catch (const UsageError& e) {
        err << "velmora-ini: " << e.Message() << "\n";
        return 2;
    } catch (const Exception& e) {
        err << "velmora-ini: " << e.Message() << "\n";
        return 1;
    }
}

}  // namespace velmora
