// Whole-process time of one CGI request against a minimal C program that reads the same 1 KB body
// and writes a fixed 1 KB page, spawned in turns in the same run: the echo-form example, and a post
// that velmora refuses (recipient not in the allowed list: settings read and counted, no mail).
// An accepted post mailed to a local aiosmtpd relay shows how much of its time the start takes.
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "ProcessTiming.h"
#include "SettingsFile.h"
#include "SmtpSink.h"

namespace fs = std::filesystem;
using namespace velmora;
using namespace velmora::bench;

namespace {

std::vector<std::string> CgiEnvironment(const std::string& scriptName, const std::string& logDir) {
    return {"SERVER_SOFTWARE=lighttpd/1.4.69", "GATEWAY_INTERFACE=CGI/1.1", "REQUEST_METHOD=POST",
            "CONTENT_TYPE=application/x-www-form-urlencoded", "CONTENT_LENGTH=1024", "QUERY_STRING=",
            "SCRIPT_NAME=" + scriptName, "REMOTE_ADDR=127.0.0.1", "SERVER_PROTOCOL=HTTP/1.1",
            "PATH=/usr/bin:/bin", "CGI_LOG_DIR=" + logDir, "TMPDIR=" + logDir};
}

// A folder with velmora, its settings (the relay at port) and an allowed list that does not hold
// the refused post's recipient.
std::string Site(const std::string& dir, int port) {
    fs::create_directories(dir + "/cgi-bin");
    const std::string program = dir + "/cgi-bin/velmora";
    fs::copy_file(VELMORA_PROGRAM, program);
    TMailSettings s;
    s.Set(TMailField::mailfrom, "form@example.org");
    s.Set(TMailField::mailto, "webmaster@example.org");
    s.Set(TMailField::mailsubject, "Web form");
    s.Set(TMailField::mailhost, "127.0.0.1");
    s.Set(TMailField::mailport, std::to_string(port));
    WriteSettingsFile(dir + "/cgi-bin/VELMORA.INI", s);
    std::FILE* f = std::fopen((dir + "/cgi-bin/VELMORA.ALL").c_str(), "wb");
    if (f) {
        std::fputs("webmaster@example.org\r\nsales@example.org\r\n", f);
        std::fclose(f);
    }
    return program;
}

struct Column {
    const char* Name;
    std::vector<std::string> Argv, Env;
    const std::string* Body;
    std::vector<double> Times;
    size_t Bytes = 0;
};

}  // namespace

int main(int argc, char** argv) {
    const int runs = argc > 1 ? std::atoi(argv[1]) : 300;
    char tmpl[] = "/tmp/velmora-bench-XXXXXX";
    if (!::mkdtemp(tmpl)) return 1;
    const std::string dir = tmpl, logDir = dir + "/log";
    fs::create_directories(logDir);
    const std::string velmora = Site(dir, 9);  // the relay is never contacted
    test::SmtpSink relay;
    const std::string mailing = Site(dir + "/mailing", relay.Port());
    const std::string body = OneKilobyteForm();
    // The same size, naming a recipient the allowed list does not hold.
    std::string refused = "mailto=stranger%40example.net&" + body;
    refused.resize(body.size());

    const std::string minimal = VELMORA_BINARY_DIR "/bench/cgi/minimal_cgi";
    std::vector<Column> columns = {
        {"echoform", {VELMORA_BINARY_DIR "/examples/echoform/echoform"}, CgiEnvironment("/cgi-bin/echoform", logDir), &body, {}, 0},
        {"minimal C", {minimal}, CgiEnvironment("/cgi-bin/minimal", logDir), &body, {}, 0},
        {"velmora, refused post", {velmora}, CgiEnvironment("/cgi-bin/velmora", logDir), &refused, {}, 0},
        {"minimal C", {minimal}, CgiEnvironment("/cgi-bin/minimal", logDir), &refused, {}, 0}};
    const int warmup = 20;
    for (int i = 0; i < runs + warmup; ++i) {
        // Runs in turns share whatever load the machine has at the time.
        for (Column& c : columns) {
            double t = RunOnce(c.Argv, c.Env, *c.Body, c.Bytes);
            if (t < 0) {
                std::fprintf(stderr, "run %d of %s failed\n", i, c.Name);
                return 1;
            }
            if (i >= warmup) c.Times.push_back(t);
        }
    }
    // Accepted posts in turns with refused ones: the refused post is the start and the form's
    // checks, the rest of an accepted post is the mail.
    std::vector<Column> accepted = {
        {"velmora, accepted post", {mailing}, CgiEnvironment("/cgi-bin/velmora", logDir), &body, {}, 0},
        {"velmora, refused post", {velmora}, CgiEnvironment("/cgi-bin/velmora", logDir), &refused, {}, 0}};
    const int mails = std::max(runs / 3, 20);
    for (int i = 0; i < mails + warmup; ++i) {
        for (Column& c : accepted) {
            double t = RunOnce(c.Argv, c.Env, *c.Body, c.Bytes);
            if (t < 0) return 1;
            if (i >= warmup) c.Times.push_back(t);
        }
    }
    auto settings = ReadSettingsFile(dir + "/cgi-bin/VELMORA.INI");
    const int counted = settings ? settings->Counter() : -1;

    std::printf("CGI whole-process time, %d runs each, 1024-byte url-encoded body\n", runs);
    for (size_t pair = 0; pair < columns.size(); pair += 2) {
        const Column& p = columns[pair];
        const Column& m = columns[pair + 1];
        const double mp = Median(p.Times), mm = Median(m.Times);
        const double goal = 1.5;
        std::printf("  %-22s median %8.1f us  p90 %8.1f us  answer %zu bytes\n", p.Name, mp,
                    Percentile(p.Times, 0.9), p.Bytes);
        std::printf("  %-22s median %8.1f us  p90 %8.1f us  answer %zu bytes\n", m.Name, mm,
                    Percentile(m.Times, 0.9), m.Bytes);
        std::printf("  ratio of medians %.2f (goal <= %.2f): %s\n", mp / mm, goal, mp / mm <= goal ? "met" : "NOT met");
    }
    const double ma = Median(accepted[0].Times), mr = Median(accepted[1].Times);
    std::printf("  %-22s median %8.1f us  p90 %8.1f us  answer %zu bytes, %d runs\n", accepted[0].Name, ma,
                Percentile(accepted[0].Times, 0.9), accepted[0].Bytes, mails);
    std::printf("  %-22s median %8.1f us  (in the same turns)\n", accepted[1].Name, mr);
    std::printf("  start-up share of an accepted post (refused / accepted) %.0f%%\n", 100.0 * mr / ma);
    const int expected = runs + mails + 2 * warmup;
    std::printf("  refused posts counted in the settings file: %d (expected %d)\n", counted, expected);
    std::printf("  mails the relay received: %d (expected %d)\n", relay.MessageCount(), mails + warmup);
    const bool right = counted == expected && relay.MessageCount() == mails + warmup;
    fs::remove_all(dir);
    return right ? 0 : 1;
}
