// Whole-process time of one form post through velmora started as a CGI program (1 KB form, mail to
// a local relay), against the minimal C CGI program and against curl sending the same mail.
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "ProcessTiming.h"
#include "SettingsFile.h"
#include "SiteSettings.h"
#include "SmtpSink.h"

namespace fs = std::filesystem;
using namespace velmora;
using namespace velmora::bench;


int main(int argc, char** argv) {
    const int runs = argc > 1 ? std::atoi(argv[1]) : 200;
    char tmpl[] = "/tmp/velmora-mailbench-XXXXXX";
    if (!::mkdtemp(tmpl)) return 1;
    const std::string dir = tmpl;
    fs::create_directories(dir + "/cgi-bin");
    const std::string velmora = dir + "/cgi-bin/velmora";
    fs::copy_file(VELMORA_PROGRAM, velmora);

    test::SmtpSink relay;
    const int port = relay.Port();
    TMailSettings s = test::SiteMailSettings(port);
    WriteSettingsFile(dir + "/cgi-bin/VELMORA.INI", s);

    const std::string body = OneKilobyteForm();
    const std::vector<std::string> env = {
        "SERVER_SOFTWARE=lighttpd/1.4.69", "GATEWAY_INTERFACE=CGI/1.1", "REQUEST_METHOD=POST",
        "CONTENT_TYPE=application/x-www-form-urlencoded", "CONTENT_LENGTH=1024", "QUERY_STRING=",
        "SCRIPT_NAME=/cgi-bin/velmora", "REMOTE_ADDR=127.0.0.1", "SERVER_PROTOCOL=HTTP/1.1", "PATH=/usr/bin:/bin"};

    // One post first: its mail is the one curl sends, byte for byte.
    size_t answer = 0;
    if (RunOnce({velmora}, env, body, answer) < 0 || answer == 0) {
        std::fprintf(stderr, "velmora did not answer\n");
        return 1;
    }
    const std::string mailFile = relay.Message(1);
    const std::vector<std::string> curl = {"/usr/bin/curl", "--silent", "--show-error", "smtp://127.0.0.1:" + std::to_string(port),
                                           "--mail-from", "form@example.org", "--mail-rcpt", "webmaster@example.org",
                                           "--upload-file", mailFile};

    std::vector<double> velmoraTimes, minimalTimes, curlTimes;
    size_t velmoraBytes = 0, minimalBytes = 0, curlBytes = 0;
    const int warmup = 10;
    for (int i = 0; i < runs + warmup; ++i) {
        // Alternating runs share whatever load the machine has at the time.
        double v = RunOnce({velmora}, env, body, velmoraBytes);
        double m = RunOnce({MINIMAL_CGI}, env, body, minimalBytes);
        double c = RunOnce(curl, env, "", curlBytes);
        if (v < 0 || m < 0 || c < 0) {
            std::fprintf(stderr, "run %d failed (velmora %.0f, minimal %.0f, curl %.0f)\n", i, v, m, c);
            return 1;
        }
        if (i < warmup) continue;
        velmoraTimes.push_back(v);
        minimalTimes.push_back(m);
        curlTimes.push_back(c);
    }
    const size_t delivered = static_cast<size_t>(relay.MessageCount());

    const double mv = Median(velmoraTimes), mm = Median(minimalTimes), mc = Median(curlTimes);
    std::printf("Form post, whole process, %d runs each, 1024-byte url-encoded form, relay aiosmtpd on 127.0.0.1\n", runs);
    std::printf("  velmora (CGI, mail sent)  median %8.1f us  p90 %8.1f us  answer %zu bytes\n", mv,
                Percentile(velmoraTimes, 0.9), velmoraBytes);
    std::printf("  minimal C CGI (no mail)   median %8.1f us  p90 %8.1f us  answer %zu bytes\n", mm,
                Percentile(minimalTimes, 0.9), minimalBytes);
    std::printf("  curl, same mail, same relay median %6.1f us  p90 %8.1f us\n", mc, Percentile(curlTimes, 0.9));
    std::printf("  velmora / minimal C  %.2f\n  velmora / curl       %.2f\n", mv / mm, mv / mc);
    std::printf("  mails delivered: %zu (expected %d)\n", delivered, 2 * (runs + warmup) + 1);
    fs::remove_all(dir);
    return delivered == static_cast<size_t>(2 * (runs + warmup) + 1) ? 0 : 1;
}
