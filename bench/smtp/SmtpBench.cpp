// Delivery rate of TSmtpSendMail: 500 messages of 2 KB, one after another, to a local aiosmtpd,
// beside curl sending the same 500 messages to the same relay (one process per message, and all
// in one process over one connection); the same over STARTTLS with a login beside curl
// (--ssl-reqd --user, one process per message); then the CPU time of one Send(20) against a
// silent relay. "bench_smtp plain" or "bench_smtp tls" runs one part only.
#include <fcntl.h>
#include <netinet/in.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <ctime>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "HSmtp.h"
#include "SmtpSink.h"
#include "TempDir.h"
#include "TestCertificates.h"

using namespace velmora;

namespace {

constexpr int kMessages = 500;
constexpr int kRound = 100;

double Now() {
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

double ThreadCpu() {
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) / 1e9;
}

// Body lines of about 2 KB: 30 lines of 66 characters.
std::vector<std::string> BodyLines(int n) {
    std::vector<std::string> lines;
    for (int i = 0; i < 30; ++i) {
        std::string line = "Message " + std::to_string(n) + ", line " + std::to_string(i) + ": ";
        line += std::string(66 - line.size(), static_cast<char>('a' + i % 26));
        lines.push_back(line);
    }
    return lines;
}

// The text TSmtpSendMail sends for message n, as a file for curl to upload.
std::string MessageText(int n) {
    std::string text =
        "From: <alice@example.test>\r\nTo: <bob@example.test>\r\nSubject: Bench " +
        std::to_string(n) + " \r\nMime-Version: 1.0\r\nContent-Type: text/plain; charset=iso-8859-1\r\n\r\n";
    for (const std::string& line : BodyLines(n)) text += line + "\r\n";
    return text;
}

int RunQuiet(const std::vector<std::string>& args) {
    std::vector<char*> argv;
    for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    posix_spawn_file_actions_addopen(&fa, 1, "/dev/null", O_WRONLY, 0);
    pid_t pid = 0;
    int rc = posix_spawn(&pid, argv[0], &fa, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&fa);
    if (rc != 0) return -1;
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// CPU time of the waited-for child processes so far.
double ChildrenCpu() {
    rusage u{};
    getrusage(RUSAGE_CHILDREN, &u);
    auto s = [](const timeval& t) { return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) / 1e6; };
    return s(u.ru_utime) + s(u.ru_stime);
}

// One contender: sends messages [first, first + count) and returns how many went without error.
struct TContender {
    const char* Name;
    std::function<int(int first, int count)> Send;
    bool InChildren = false;  // its CPU time is that of child processes, not of this thread
    double Seconds = 0;
    double Cpu = 0;
    int Sent = 0;
    int Stored = 0;  // as counted by the relay
};

int SendWithVelmora(TSmtpSendMail& mail, int first, int count) {
    int ok = 0;
    for (int n = first; n < first + count; ++n) {
        mail.MailSubject = "Bench " + std::to_string(n);
        mail.MailBody().Clear();
        for (const std::string& line : BodyLines(n)) mail.MailBody().Add(line);
        if (mail.Send(20))
            ++ok;
        else
            std::fprintf(stderr, "message %d: %s\n", n, mail.GetErrorText().c_str());
    }
    return ok;
}

std::vector<std::string> WriteMessageFiles(const std::string& dir) {
    std::vector<std::string> files;
    for (int n = 0; n < kMessages; ++n) {
        files.push_back(dir + "/bench-" + std::to_string(n) + ".txt");
        std::ofstream(files.back(), std::ios::binary) << MessageText(n);
    }
    return files;
}

// extra: further curl options (TLS and login).
int SendWithCurlProcesses(const std::string& url, const std::vector<std::string>& files, int first,
                          int count, const std::vector<std::string>& extra = {}) {
    int ok = 0;
    for (int n = first; n < first + count; ++n) {
        std::vector<std::string> args = {"/usr/bin/curl", "-sS", url, "--mail-from", "alice@example.test",
                                         "--mail-rcpt", "bob@example.test", "-T", files[static_cast<size_t>(n)]};
        args.insert(args.end(), extra.begin(), extra.end());
        if (RunQuiet(args) == 0) ++ok;
    }
    return ok;
}

// One curl for all: a config file pairs each URL with its upload. curl then keeps one connection
// for all messages (greeting, EHLO and QUIT once), where each Send is a dialogue of its own;
// curl 7.88 keeps reusing it even with fresh-connect, so there is no per-message variant here.
int SendWithOneCurl(const std::string& url, const std::vector<std::string>& files, int first,
                    int count, const std::string& config) {
    {
        std::ofstream out(config);
        out << "silent\nshow-error\nmail-from = \"alice@example.test\"\nmail-rcpt = \"bob@example.test\"\n";
        for (int n = first; n < first + count; ++n)
            out << "url = \"" << url << "\"\nupload-file = \"" << files[static_cast<size_t>(n)] << "\"\n";
    }
    return RunQuiet({"/usr/bin/curl", "-K", config}) == 0 ? count : 0;
}

// A listener that accepts and then never says a word.
void SilentRelayCpu() {
    int s = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    ::bind(s, reinterpret_cast<sockaddr*>(&a), len);
    ::listen(s, 1);
    ::getsockname(s, reinterpret_cast<sockaddr*>(&a), &len);
    TSmtpSendMail mail;
    mail.RemoteHost = "127.0.0.1";
    mail.RemotePort = std::to_string(ntohs(a.sin_port));
    mail.MailFrom = "alice@example.test";
    mail.MailTo = "bob@example.test";
    double start = Now(), cpu = ThreadCpu();
    bool ok = mail.Send(20);
    cpu = ThreadCpu() - cpu;
    std::printf("Send(20) to a silent relay: %s after %.2f s, \"%s\", CPU %.4f s (limit 0.1 s)\n",
                ok ? "true" : "false", Now() - start, mail.GetErrorText().c_str(), cpu);
    ::close(s);
}

void Configure(TSmtpSendMail& mail, const test::SmtpSink& sink) {
    mail.RemoteHost = "127.0.0.1";
    mail.RemotePort = std::to_string(sink.Port());
    mail.MailFrom = "alice@example.test";
    mail.MailTo = "bob@example.test";
}

// The contenders take turns in rounds (the machine is shared: turns spread its load evenly).
void Race(std::vector<TContender>& contenders, const test::SmtpSink& sink) {
    for (int first = 0; first < kMessages; first += kRound) {
        for (TContender& c : contenders) {
            int before = sink.MessageCount();
            double start = Now();
            double cpuStart = c.InChildren ? ChildrenCpu() : ThreadCpu();
            c.Sent += c.Send(first, kRound);
            c.Seconds += Now() - start;
            c.Cpu += (c.InChildren ? ChildrenCpu() : ThreadCpu()) - cpuStart;
            c.Stored += sink.MessageCount() - before;
        }
    }
    for (const TContender& c : contenders)
        std::printf("%-44s %4d sent, %4d stored, %6.2f s = %6.1f messages/s, CPU %.3f ms per message\n", c.Name,
                    c.Sent, c.Stored, c.Seconds, c.Stored / c.Seconds, c.Cpu * 1000 / kMessages);
    std::printf("rate of %s against %s: %.2fx\n", contenders[0].Name, contenders[1].Name,
                (contenders[0].Stored / contenders[0].Seconds) / (contenders[1].Stored / contenders[1].Seconds));
}

void PlainRace() {
    test::SmtpSink sink;
    std::vector<std::string> files = WriteMessageFiles(sink.Dir());
    std::string url = "smtp://127.0.0.1:" + std::to_string(sink.Port());
    std::string config = sink.Dir() + "/curl.config";
    TSmtpSendMail mail;
    Configure(mail, sink);
    std::vector<TContender> contenders = {
        {"TSmtpSendMail, one component", [&](int f, int c) { return SendWithVelmora(mail, f, c); }},
        {"curl, one process per message",
         [&](int f, int c) { return SendWithCurlProcesses(url, files, f, c); }, true},
        {"curl, one process, one connection for all",
         [&](int f, int c) { return SendWithOneCurl(url, files, f, c, config); }, true},
    };
    std::printf("%d messages of %zu bytes to aiosmtpd on 127.0.0.1:%d, per contender, in rounds of %d taken in turn\n",
                kMessages, MessageText(0).size(), sink.Port(), kRound);
    Race(contenders, sink);
}

// STARTTLS (TLS 1.3, a P-256 certificate of a private authority) and AUTH PLAIN on every message.
void TlsRace() {
    test::TempDir dir;
    test::TestCertificates certs(dir.Path());
    std::vector<std::string> options = certs.SinkOptions();
    options.insert(options.end(), {"--login", "u:p"});
    test::SmtpSink sink(options);
    std::vector<std::string> files = WriteMessageFiles(sink.Dir());
    std::string url = "smtp://127.0.0.1:" + std::to_string(sink.Port());
    TSmtpSendMail mail;
    Configure(mail, sink);
    mail.Security.Tls = TTlsMode::Required;
    mail.Security.Certificates.CaFile = certs.CaFile();
    mail.Security.User = "u";
    mail.Security.Password = "p";
    std::vector<std::string> curlTls = {"--ssl-reqd", "--cacert", certs.CaFile(), "--user", "u:p"};
    std::vector<TContender> contenders = {
        {"TSmtpSendMail, STARTTLS + login", [&](int f, int c) { return SendWithVelmora(mail, f, c); }},
        {"curl --ssl-reqd --user, a process per message",
         [&](int f, int c) { return SendWithCurlProcesses(url, files, f, c, curlTls); }, true},
    };
    std::printf("%d messages of %zu bytes over STARTTLS with AUTH PLAIN to aiosmtpd on 127.0.0.1:%d, in rounds of %d\n",
                kMessages, MessageText(0).size(), sink.Port(), kRound);
    Race(contenders, sink);
}

}  // namespace

int main(int argc, char** argv) {
    std::string part = argc > 1 ? argv[1] : "";
    if (part.empty() || part == "plain") PlainRace();
    if (part.empty() || part == "tls") TlsRace();
    if (part.empty() || part == "plain") SilentRelayCpu();
    return 0;
}
