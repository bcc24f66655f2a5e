// Process-level services: environment, module file name, the "runs as a library" flag, detached
// process start, exit, sleep, time and locale formats, and random numbers.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace velmora {

// The environment variable, or false when it does not exist.
bool GetEnvironmentVariable(const std::string& name, std::string& value);
// The whole environment block as NAME=VALUE lines, in the process's order.
std::vector<std::string> GetEnvironmentBlock();
// Command-line parameters after the program name (set by SetCommandLine from main).
void SetCommandLine(int argc, char** argv);
int ParamCount();
std::string ParamStr(int index);  // 0: the program file

// Full path of the executable, or inside a shared library the library's own path.
std::string GetModuleFileName();
// True when this code runs inside a shared library that a server loaded. Found out from the loader
// on first use, so no hook is needed; SetRunsAsLibrary overrides the finding.
void SetRunsAsLibrary(bool value) noexcept;
bool RunsAsLibrary() noexcept;

// Starts path with args detached in its own session, standard streams on /dev/null.
// True when the process was started.
bool StartDetachedProcess(const std::string& path, const std::vector<std::string>& args);
[[noreturn]] void ExitProcess(int code);
void Sleep(unsigned milliseconds);
uint64_t TickCount();  // milliseconds from a monotonic clock

// Local time as days since 1899-12-30 with the time of day as fraction (TDateTime).
using TDateTime = double;
// Rounds half away from zero like std::llround, inline: that one call would otherwise make every
// CGI start load the maths library.
inline long long RoundToInteger(double x) {
    return x < 0 ? -static_cast<long long>(0.5 - x) : static_cast<long long>(x + 0.5);
}
TDateTime Now();
// The local-time bias in minutes (add to local time to get GMT) for the given local time,
// daylight saving included when in effect then.
int LocalTimeBias(TDateTime localTime);
// Broken-down parts of a TDateTime.
struct TDateParts { int Year, Month, Day, Hour, Minute, Second, Millisecond, DayOfWeek; };  // DayOfWeek 0 = Sunday
TDateParts DecodeDateTime(TDateTime t);
TDateTime EncodeDateTime(int year, int month, int day, int hour, int minute, int second, int ms = 0);
// The locale's short date and long time formats (nl_langinfo D_FMT / T_FMT) applied to t.
std::string FormatShortDate(TDateTime t);
std::string FormatLongTime(TDateTime t);

// Thread-safe random numbers; Randomize seeds from the clock.
void Randomize();
int Random(int range);  // 0 .. range-1
// n bytes from the system's unpredictable source, for what an outsider must not guess; throws
// std::runtime_error when the system gives none.
void RandomBytes(void* out, size_t n);

}  // namespace velmora
