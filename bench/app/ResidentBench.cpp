// One form post (1 KB form, mail to a local relay) through velmora three ways, in one run: a plain
// CGI process per request; CGI starts handing the post to a resident server that only polls; and
// the same with the change notices that wake server and client at once, with the server serving one
// request at a time and, as a program whose engine asks for it, each on a thread of its own.
// Latency of one request (median, p90), throughput with 8 clients posting at the same time, and the
// machine's CPU time per request meanwhile.
#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "ProcessTiming.h"
#include "SettingsFile.h"
#include "SiteSettings.h"
#include "SmtpSink.h"

namespace fs = std::filesystem;
using namespace velmora;
using namespace velmora::bench;

namespace {

struct Site {
    std::string Program;
    std::vector<std::string> Env;
};

Site MakeSite(const std::string& dir, const std::string& tmp, int relayPort, bool pollOnly,
              const std::string& program = VELMORA_PROGRAM) {
    fs::create_directories(dir);
    Site s;
    s.Program = dir + "/" + fs::path(program).filename().string();
    fs::copy_file(program, s.Program);
    TMailSettings m = test::SiteMailSettings(relayPort);
    WriteSettingsFile(dir + "/VELMORA.INI", m);
    s.Env = {"SERVER_SOFTWARE=lighttpd/1.4.69", "GATEWAY_INTERFACE=CGI/1.1", "REQUEST_METHOD=POST",
             "CONTENT_TYPE=application/x-www-form-urlencoded", "CONTENT_LENGTH=1024", "QUERY_STRING=",
             "SCRIPT_NAME=/cgi-bin/velmora", "REMOTE_ADDR=127.0.0.1", "SERVER_PROTOCOL=HTTP/1.1",
             "PATH=/usr/bin:/bin", "TMPDIR=" + tmp};
    if (pollOnly) s.Env.push_back("CGI_SERVER_POLL_ONLY=1");
    return s;
}

std::string QueueFile(const Site& s) {
    return fs::path(s.Program).parent_path() / ("Temp/" + fs::path(s.Program).filename().string() + "_S");
}

// The program started by hand (no server software, no parameter) with the site's TMPDIR; with
// launched, as a client launches it ("START_SERVER"), so that it keeps its engine's mode.
pid_t StartServer(const Site& s, bool launched = false) {
    pid_t pid = ::fork();
    if (pid == 0) {
        int null = ::open("/dev/null", O_RDWR);
        ::dup2(null, 0), ::dup2(null, 1), ::dup2(null, 2);
        std::vector<char*> env;
        // A launched server inherits its client's CGI environment; without it, the parameter
        // would make the start a profile-file request.
        for (const auto& e : s.Env)
            if (launched || e.rfind("TMPDIR=", 0) == 0 || e.rfind("CGI_SERVER_POLL_ONLY=", 0) == 0 || e.rfind("PATH=", 0) == 0)
                env.push_back(const_cast<char*>(e.c_str()));
        env.push_back(nullptr);
        ::execle(s.Program.c_str(), s.Program.c_str(), launched ? "START_SERVER" : static_cast<char*>(nullptr),
                 static_cast<char*>(nullptr), env.data());
        ::_exit(127);
    }
    const std::string queue = QueueFile(s);
    for (int i = 0; i < 200 && !fs::exists(queue); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    std::this_thread::sleep_for(std::chrono::milliseconds(100));  // its engine polls by now
    return pid;
}

// Stops the server the way a user does (deleting its queue file), by its pid if that fails.
void StopServer(const Site& s, pid_t pid) {
    fs::remove(QueueFile(s));
    for (int i = 0; i < 300; ++i) {
        if (::waitpid(pid, nullptr, WNOHANG) == pid) return;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    ::kill(pid, SIGKILL);
    ::waitpid(pid, nullptr, 0);
}

// Clock ticks the whole machine has been busy so far (the first line of /proc/stat).
long long BusyTicks() {
    std::FILE* f = std::fopen("/proc/stat", "r");
    long long v[8] = {};
    if (f) {
        if (std::fscanf(f, "cpu %lld %lld %lld %lld %lld %lld %lld %lld", v, v + 1, v + 2, v + 3, v + 4, v + 5, v + 6, v + 7) != 8)
            v[0] = 0;
        std::fclose(f);
    }
    long long busy = 0;
    for (long long x : v) busy += x;
    return busy - v[3] - v[4] - v[7];  // less idle, waiting for I/O and stolen by the host
}

struct Row {
    std::vector<double> Times;
    double PerSecond = 0;
    double CpuMs = 0;  // machine CPU time per request while 8 clients post, all processes
};

// Requests per second with 8 clients posting `each` forms one after another, and the machine's
// CPU time per request meanwhile (web-server side, program, server and relay alike).
void Throughput(const Site& s, const std::string& body, int each, std::atomic<int>& failures, Row& row) {
    const long long ticks = BusyTicks();
    const auto start = std::chrono::steady_clock::now();
    std::vector<std::thread> clients;
    for (int c = 0; c < 8; ++c)
        clients.emplace_back([&] {
            size_t bytes = 0;
            for (int i = 0; i < each; ++i)
                if (RunOnce({s.Program}, s.Env, body, bytes) < 0 || bytes == 0) ++failures;
        });
    for (auto& t : clients) t.join();
    const double secs = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    row.CpuMs = static_cast<double>(BusyTicks() - ticks) * 1000.0 / static_cast<double>(::sysconf(_SC_CLK_TCK)) / (8.0 * each);
    row.PerSecond = 8.0 * each / secs;
}

void Print(const char* name, const Row& r) {
    std::printf("  %-28s median %8.0f us  p90 %8.0f us  8 clients %7.0f req/s  %5.2f ms CPU/req\n", name,
                Median(r.Times), Percentile(r.Times, 0.9), r.PerSecond, r.CpuMs);
}

}  // namespace

int main(int argc, char** argv) {
    const int runs = argc > 1 ? std::atoi(argv[1]) : 100;
    const int each = argc > 2 ? std::atoi(argv[2]) : 20;
    char tmpl[] = "/tmp/velmora-residentbench-XXXXXX";
    if (!::mkdtemp(tmpl)) return 1;
    const std::string dir = tmpl;
    // A private TMPDIR: the servers' window titles are seen by this run's programs only.
    const std::string tmp = dir + "/tmp";
    fs::create_directories(tmp);
    test::SmtpSink relay;
    const Site plain = MakeSite(dir + "/plain", tmp, relay.Port(), false);
    const Site polled = MakeSite(dir + "/polled", tmp, relay.Port(), true);
    const Site woken = MakeSite(dir + "/woken", tmp, relay.Port(), false);
#ifdef VELMORA_THREADS
    const Site threads = MakeSite(dir + "/threads", tmp, relay.Port(), false, VELMORA_THREADS);
    const int kinds = 3;
#else
    const Site& threads = woken;
    const int kinds = 2;
#endif
    const std::string body = OneKilobyteForm();

    Row rowPlain, rowPolled, rowWoken, rowThreads;
    std::atomic<int> failures{0};
    size_t bytes = 0;
    // Each resident kind runs while its own server is up; the plain CGI runs alternate with both,
    // so all three share the machine's load of the moment.
    for (int kind = 0; kind < kinds; ++kind) {
        const Site& resident = kind == 0 ? polled : kind == 1 ? woken : threads;
        Row& row = kind == 0 ? rowPolled : kind == 1 ? rowWoken : rowThreads;
        const pid_t server = StartServer(resident, kind == 2);
        for (int i = 0; i < runs + 5; ++i) {
            double p = RunOnce({plain.Program}, plain.Env, body, bytes);
            if (p < 0 || bytes == 0) ++failures;
            double r = RunOnce({resident.Program}, resident.Env, body, bytes);
            if (r < 0 || bytes == 0) ++failures;
            if (i < 5) continue;
            rowPlain.Times.push_back(p);
            row.Times.push_back(r);
        }
        Throughput(resident, body, each, failures, row);
        StopServer(resident, server);
    }
    Throughput(plain, body, each, failures, rowPlain);

    std::printf("Form post, 1024-byte url-encoded form, mail to aiosmtpd on 127.0.0.1; latency %d runs each,\n"
                "throughput 8 clients x %d posts (each client a CGI start, as a web server runs them)\n", runs, each);
    Print("normal CGI", rowPlain);
    Print("resident, polling only", rowPolled);
    Print("resident, woken on change", rowWoken);
    std::printf("  woken / normal: latency %.2f, throughput %.2f\n", Median(rowWoken.Times) / Median(rowPlain.Times),
                rowWoken.PerSecond / rowPlain.PerSecond);
    if (kinds == 3) {
        Print("resident threads, woken", rowThreads);
        std::printf("  threads woken / normal: latency %.2f, throughput %.2f\n",
                    Median(rowThreads.Times) / Median(rowPlain.Times), rowThreads.PerSecond / rowPlain.PerSecond);
    }
    const int expected = kinds * 2 * (runs + 5) + (kinds + 1) * 8 * each;
    std::printf("  failed posts: %d; mails delivered: %d (expected %d)\n", failures.load(), relay.MessageCount(), expected);
    fs::remove_all(dir);
    return failures == 0 && relay.MessageCount() == expected ? 0 : 1;
}
