// WriteLog, the program's one log file ("<program name>.Log" in CGI_LOG_DIR, else in "Log" beside
// the program, else beside it), and TerminateProgram, the end of a CGI process.
#include "HttpEng.h"

#include "ControlChars.h"
#include "EnvPaths.h"
#include "Files.h"
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

TLogEcho& LogEcho() {
    thread_local TLogEcho echo;
    return echo;
}

}  // namespace

void SetRequestLogEcho(TLogEcho echo) { LogEcho() = std::move(echo); }

// One line per call, appended with a single write so that lines of several processes and threads
// never interleave. A folder that exists but cannot take the file falls back to the program's.
// Messages carry outside text (form values inside exception messages, for one): their control
// bytes become blanks here, so no caller can end a line early or write one of its own.
void WriteLog(const std::string& msg) noexcept {
    try {
        std::string program = ModuleFileName();
        std::string programDir = ExtractFileDir(program);
        TDateTime now = Now();
        std::string text = BlankControlChars(msg);
        std::string line = FormatShortDate(now) + " " + FormatLongTime(now) + ",  " +
                           IntToStr(RequestState().RequestId) + " : " + text + "\r\n";
        if (LogEcho()) LogEcho()(text);
        std::string dir = LogDirectory(programDir);
        if (!AppendToFile(LogFileIn(program, dir), line, kLogFileMode) && dir != programDir)
            AppendToFile(LogFileIn(program, programDir), line, kLogFileMode);
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
