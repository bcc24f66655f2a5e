// Process-level services on POSIX: environment, command line, module file name (executable or
// the shared library this code is linked into), the library flag, detached start, time, random.
#include "System.h"

#include <dlfcn.h>
#include <link.h>
#include <fcntl.h>
#include <langinfo.h>
#include <signal.h>
#include <spawn.h>
#include <sys/random.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <mutex>
#include <random>
#include <stdexcept>
#include <thread>

extern char** environ;

namespace velmora {

bool GetEnvironmentVariable(const std::string& name, std::string& value) {
    const char* v = std::getenv(name.c_str());
    if (!v) return false;
    value = v;
    return true;
}

std::vector<std::string> GetEnvironmentBlock() {
    std::vector<std::string> out;
    for (char** e = environ; e && *e; ++e) out.emplace_back(*e);
    return out;
}

namespace {
std::vector<std::string>& CommandLine() {
    static std::vector<std::string> args;
    return args;
}
}  // namespace

void SetCommandLine(int argc, char** argv) {
    CommandLine().assign(argv, argv + argc);
}

int ParamCount() {
    int n = static_cast<int>(CommandLine().size());
    return n > 0 ? n - 1 : 0;
}

std::string ParamStr(int index) {
    if (index == 0) return GetModuleFileName();
    const auto& args = CommandLine();
    return index > 0 && static_cast<size_t>(index) < args.size() ? args[static_cast<size_t>(index)] : std::string();
}

// -1 until known. The same static library goes into the executable and the shared library, so
// the build cannot say which this is; the loader can: the main program's entry in its list of
// loaded objects has an empty name. Asked lazily, the answer is there before any static
// initialiser of a library needs it, whatever the order of initialisers.
static std::atomic<int> gRunsAsLibrary{-1};

static bool LinkedIntoSharedObject() noexcept {
    Dl_info info{};
    struct link_map* map = nullptr;
    if (!::dladdr1(reinterpret_cast<void*>(&LinkedIntoSharedObject), &info, reinterpret_cast<void**>(&map),
                   RTLD_DL_LINKMAP) || !map || !map->l_name)
        return false;
    return map->l_name[0] != '\0';
}

void SetRunsAsLibrary(bool value) noexcept { gRunsAsLibrary = value ? 1 : 0; }

bool RunsAsLibrary() noexcept {
    int v = gRunsAsLibrary.load();
    if (v < 0) {
        gRunsAsLibrary.compare_exchange_strong(v, LinkedIntoSharedObject() ? 1 : 0);
        v = gRunsAsLibrary.load();
    }
    return v == 1;
}

// Read once: the program's path is asked for by several parts of every start (settings, log,
// side files), and a process does not move its own executable.
static std::string ExecutablePath() {
    static const std::string path = [] {
        char buf[PATH_MAX];
        ssize_t n = ::readlink("/proc/self/exe", buf, sizeof buf - 1);
        return n > 0 ? std::string(buf, static_cast<size_t>(n)) : std::string();
    }();
    return path;
}

// The whole of a file that stat cannot size (a /proc file), read to its end; empty on failure.
static std::string ReadProcFile(const char* path) {
    std::string text;
    int fd = ::open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0) return text;
    char block[16384];
    for (ssize_t n; (n = ::read(fd, block, sizeof block)) != 0;) {
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) break;
        text.append(block, static_cast<size_t>(n));
    }
    ::close(fd);
    return text;
}

// The file mapped at addr, from /proc/self/maps ("start-end perms offset dev inode path"). Read
// without iostreams: linking them in would cost every CGI start their locale set-up.
static std::string MappedFileOf(void* addr) {
    const std::string maps = ReadProcFile("/proc/self/maps");
    const auto a = reinterpret_cast<uintptr_t>(addr);
    for (size_t pos = 0; pos < maps.size();) {
        size_t eol = maps.find('\n', pos);
        if (eol == std::string::npos) eol = maps.size();
        std::string line = maps.substr(pos, eol - pos);
        pos = eol + 1;
        unsigned long long start = 0, end = 0;
        if (std::sscanf(line.c_str(), "%llx-%llx", &start, &end) != 2 || a < start || a >= end) continue;
        size_t slash = line.find('/');
        return slash == std::string::npos ? std::string() : line.substr(slash);
    }
    return {};
}

// The object this function is linked into: the executable, or the shared library that a web
// server loaded.
std::string GetModuleFileName() {
    if (RunsAsLibrary()) {
        Dl_info info{};
        if (::dladdr(reinterpret_cast<void*>(&GetModuleFileName), &info) && info.dli_fname) {
            std::string p = info.dli_fname;
            // A library loaded by a relative path is named as it was given; the kernel's map of
            // the process knows its full path whatever the working directory is now.
            if (p.empty() || p[0] != '/') p = MappedFileOf(reinterpret_cast<void*>(&GetModuleFileName));
            if (!p.empty()) return p;
        }
    }
    return ExecutablePath();
}

bool StartDetachedProcess(const std::string& path, const std::vector<std::string>& args) {
    posix_spawn_file_actions_t fa;
    posix_spawnattr_t attr;
    posix_spawn_file_actions_init(&fa);
    posix_spawnattr_init(&attr);
    posix_spawn_file_actions_addopen(&fa, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&fa, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&fa, 2, "/dev/null", O_WRONLY, 0);
    // Nothing else of the starter's: a web server's pipe held open by the resident process would
    // keep the server waiting for the end of the starting CGI's output.
    posix_spawn_file_actions_addclosefrom_np(&fa, 3);
    sigset_t none, all;
    sigemptyset(&none);
    sigfillset(&all);
    posix_spawnattr_setsigmask(&attr, &none);
    // Signals the starter ignores (a web server often ignores SIGPIPE or SIGHUP) would stay
    // ignored across exec; the new process starts with the defaults.
    posix_spawnattr_setsigdefault(&attr, &all);
    short flags = POSIX_SPAWN_SETSID | POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF;
    posix_spawnattr_setflags(&attr, flags);
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(path.c_str()));
    for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    pid_t pid = 0;
    int rc = ::posix_spawn(&pid, path.c_str(), &fa, &attr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&fa);
    posix_spawnattr_destroy(&attr);
    return rc == 0;
}

void ExitProcess(int code) { std::exit(code); }

void Sleep(unsigned milliseconds) { std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds)); }

uint64_t TickCount() {
    using namespace std::chrono;
    return static_cast<uint64_t>(duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

// TDateTime counts days from 1899-12-30; the Unix epoch is day 25569.
static constexpr double kUnixEpochDays = 25569.0;

static std::tm ToTm(TDateTime t) {
    double days = std::floor(t);
    double frac = t - days;
    long long secs = static_cast<long long>(RoundToInteger(frac * 86400.0));
    time_t whole = static_cast<time_t>((days - kUnixEpochDays) * 86400.0) + static_cast<time_t>(secs);
    std::tm tm{};
    ::gmtime_r(&whole, &tm);  // the value already is local wall time; decode it without a zone
    return tm;
}

TDateTime Now() {
    using namespace std::chrono;
    auto now = system_clock::now();
    time_t s = system_clock::to_time_t(now);
    int ms = static_cast<int>(duration_cast<milliseconds>(now.time_since_epoch()).count() % 1000);
    std::tm lt{};
    ::localtime_r(&s, &lt);
    return EncodeDateTime(lt.tm_year + 1900, lt.tm_mon + 1, lt.tm_mday, lt.tm_hour, lt.tm_min, lt.tm_sec, ms);
}

int LocalTimeBias(TDateTime localTime) {
    std::tm tm = ToTm(localTime);
    // Not mktime: it reloads the zone (a look at /etc/localtime) on every call, once per mail's
    // Date line. The wall time read as UTC, less the zone's offset at about that instant, is the
    // instant; a second round settles a wall time next to a change of the offset.
    const time_t wall = ::timegm(&tm);
    if (wall == static_cast<time_t>(-1)) return 0;
    time_t instant = wall;
    std::tm lt{};
    for (int round = 0; round < 2; ++round) {
        if (!::localtime_r(&instant, &lt)) return 0;
        instant = wall - lt.tm_gmtoff;
    }
    if (!::localtime_r(&instant, &lt)) return 0;
    return static_cast<int>(-lt.tm_gmtoff / 60);
}

TDateParts DecodeDateTime(TDateTime t) {
    double days = std::floor(t);
    long long msTotal = RoundToInteger((t - days) * 86400000.0);
    if (msTotal >= 86400000) { msTotal -= 86400000; days += 1; }
    time_t whole = static_cast<time_t>((days - kUnixEpochDays) * 86400.0);
    std::tm tm{};
    ::gmtime_r(&whole, &tm);
    TDateParts p{};
    p.Year = tm.tm_year + 1900;
    p.Month = tm.tm_mon + 1;
    p.Day = tm.tm_mday;
    p.DayOfWeek = tm.tm_wday;
    p.Hour = static_cast<int>(msTotal / 3600000);
    p.Minute = static_cast<int>(msTotal / 60000 % 60);
    p.Second = static_cast<int>(msTotal / 1000 % 60);
    p.Millisecond = static_cast<int>(msTotal % 1000);
    return p;
}

TDateTime EncodeDateTime(int year, int month, int day, int hour, int minute, int second, int ms) {
    std::tm tm{};
    tm.tm_year = year - 1900;
    tm.tm_mon = month - 1;
    tm.tm_mday = day;
    long long daysSinceEpoch = static_cast<long long>(timegm(&tm)) / 86400;
    double frac = (hour * 3600000.0 + minute * 60000.0 + second * 1000.0 + ms) / 86400000.0;
    return static_cast<double>(daysSinceEpoch) + kUnixEpochDays + frac;
}

static void InitLocaleOnce() {
    static std::once_flag once;
    std::call_once(once, [] { ::setlocale(LC_TIME, ""); });
}

static std::string FormatWith(nl_item item, TDateTime t) {
    InitLocaleOnce();
    std::tm tm = ToTm(t);
    char buf[128];
    size_t n = std::strftime(buf, sizeof buf, ::nl_langinfo(item), &tm);
    return std::string(buf, n);
}

std::string FormatShortDate(TDateTime t) { return FormatWith(D_FMT, t); }
std::string FormatLongTime(TDateTime t) { return FormatWith(T_FMT, t); }

namespace {
std::mutex gRandomLock;
std::mt19937& Generator() {
    // Seeded like Randomize: std::random_device would cost every CGI start its set-up.
    static std::mt19937 gen(static_cast<unsigned>(std::chrono::steady_clock::now().time_since_epoch().count()) ^
                            static_cast<unsigned>(::getpid()));
    return gen;
}
}  // namespace

void Randomize() {
    std::lock_guard<std::mutex> lock(gRandomLock);
    auto seed = static_cast<unsigned>(std::chrono::steady_clock::now().time_since_epoch().count()) ^
                static_cast<unsigned>(::getpid());
    Generator().seed(seed);
}

int Random(int range) {
    if (range <= 0) return 0;
    std::lock_guard<std::mutex> lock(gRandomLock);
    return std::uniform_int_distribution<int>(0, range - 1)(Generator());
}

void RandomBytes(void* out, size_t n) {
    auto* p = static_cast<unsigned char*>(out);
    while (n > 0) {
        ssize_t got = ::getrandom(p, n, 0);
        if (got < 0 && errno == EINTR) continue;
        // Without the kernel's source nothing else here is unpredictable: better no mail than a
        // guessable one.
        if (got <= 0) throw std::runtime_error("no random bytes from the system");
        p += got;
        n -= static_cast<size_t>(got);
    }
}

}  // namespace velmora
