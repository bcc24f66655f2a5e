// WriteLog, the program's one log file ("<program name>.Log" in CGI_LOG_DIR, else in "Log" beside
// the program, else beside it) and, as the route rule says, the system log; TerminateProgram.
#include "HttpEng.h"

#include "ControlChars.h"
#include "EnvPaths.h"
#include "Files.h"
#include "LogSocket.h"
#include "System.h"

namespace velmora {

namespace {

// The log holds visitor addresses and form values: the web server's account and its group may
// read it, nobody else (a site that wants others to read it changes the modes itself).
constexpr unsigned kLogFolderMode = 0750;
constexpr unsigned kLogFileMode = 0640;

// The folder for the log: CGI_LOG_DIR (relative to the program's folder unless absolute), else
// "Log" beside the program; either made when missing, else the program's own folder.
std::string LogDirectory(const std::string& programDir) {
    std::string dir = GetEnv("CGI_LOG_DIR");
    if (dir.empty())
        dir = programDir + "/Log";
    else if (!IsAbsolutePath(dir))
        dir = programDir + "/" + dir;
    if (!PathExists(dir) && !CreateDir(dir, kLogFolderMode)) return programDir;
    return dir;
}

std::string LogFileIn(const std::string& program, const std::string& dir) {
    return BuildFileName(program, dir, false, "Log", false, ExtractFileName(program));
}

TLogRouteRule& RouteRule() {
    static TLogRouteRule rule;
    return rule;
}

// While the route rule runs on a thread, that thread's log lines wait here for its answer.
struct TRouteDecision {
    bool Deciding = false;
    std::vector<std::string> Held;
};

TRouteDecision& Decision() {
    thread_local TRouteDecision decision;
    return decision;
}

TLogRoute DecideRoute() {
    TLogRoute route;
    if (!RouteRule()) return route;
    Decision().Deciding = true;
    try {
        route = RouteRule()();
    } catch (...) {
        route = TLogRoute{};  // a rule that fails keeps the file, where lines were always found
    }
    Decision().Deciding = false;
    return route;
}

void AppendToLogFile(const std::string& line) {
    std::string program = ModuleFileName();
    std::string programDir = ExtractFileDir(program);
    std::string dir = LogDirectory(programDir);
    if (!AppendToFile(LogFileIn(program, dir), line, kLogFileMode) && dir != programDir)
        AppendToFile(LogFileIn(program, programDir), line, kLogFileMode);
}

TLogEcho& LogEcho() {
    thread_local TLogEcho echo;
    return echo;
}

}  // namespace

void SetRequestLogEcho(TLogEcho echo) { LogEcho() = std::move(echo); }

void SetLogRouteRule(TLogRouteRule rule) { RouteRule() = std::move(rule); }

namespace {

// One line where the route sends it; text has no control bytes left. What goes to the file is
// added to file, appended by the caller.
void Emit(const std::string& text, const TLogRoute& route, std::string& file) {
    TDateTime now = Now();
    int id = RequestState().RequestId;
    if (LogEcho()) LogEcho()(text);
    if (route.Syslog) {
        std::string socket = route.SyslogSocket.empty() ? kSystemLogSocket : route.SyslogSocket;
        bool sent = SendToLogSocket(socket, SyslogLine(now, ExtractFileName(ModuleFileName()), CurrentProcessId(), id, text));
        // A line the system log did not take goes to the file rather than nowhere.
        if (!sent && !route.File) {
            file += FormatShortDate(now) + " " + FormatLongTime(now) + ",  " + IntToStr(id) + " : " + "System log " +
                    BlankControlChars(socket) + " did not take this line: " + text + "\r\n";
            return;
        }
    }
    if (route.File) file += FormatShortDate(now) + " " + FormatLongTime(now) + ",  " + IntToStr(id) + " : " + text + "\r\n";
}

// The lines where the route sends them, with any the route rule's own run held back first.
void EmitAll(const std::vector<std::string>& msgs) {
    std::vector<std::string> texts;
    for (const std::string& msg : msgs) texts.push_back(BlankControlChars(msg));
    TRouteDecision& decision = Decision();
    if (decision.Deciding) {
        for (std::string& text : texts) decision.Held.push_back(std::move(text));
        return;
    }
    TLogRoute route = DecideRoute();
    std::vector<std::string> held;
    held.swap(decision.Held);
    std::string file;
    for (const std::string& line : held) Emit(line, route, file);
    for (const std::string& text : texts) Emit(text, route, file);
    if (!file.empty()) AppendToLogFile(file);
}

}  // namespace

// One line per call, appended with a single write so that lines of several processes and threads
// never interleave. A folder that exists but cannot take the file falls back to the program's.
// Messages carry outside text (form values inside exception messages, for one): their control
// bytes become blanks here, so no caller can end a line early or write one of its own.
void WriteLog(const std::string& msg) noexcept { WriteLogLines({msg}); }

// Several lines in one append of the file: lines of other processes and threads never come
// between them.
void WriteLogLines(const std::vector<std::string>& msgs) noexcept {
    try {
        EmitAll(msgs);
    } catch (...) {
        // The log is the last resort for reporting failures; losing a line is all that can go wrong.
    }
}

void TerminateProgram() {
    if (RunsAsLibrary()) return;
    Application().FreeForms();
    ExitProcess(0);
}

}  // namespace velmora
