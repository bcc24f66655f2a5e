// What the site options cost a form post: velmora as a CGI program mailing a 1 KB form to a local
// relay without VELMORA.CONF, and with every option that runs on a plain post switched on (post
// only, Reply-To, honeypot, character set chosen by the text, CORS, a rate limit whose counts file
// already holds 9,999 other addresses), against the minimal C CGI program in the same run.
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "BenchSite.h"
#include "ProcessTiming.h"
#include "SettingsFile.h"
#include "SmtpSink.h"

namespace fs = std::filesystem;
using namespace velmora;
using namespace velmora::bench;

namespace {

std::string Site(const std::string& dir, int port, const std::string& conf) { return CgiSite(VELMORA_PROGRAM, dir, port, conf); }

}  // namespace

int main(int argc, char** argv) {
    const int runs = argc > 1 ? std::atoi(argv[1]) : 200;
    char tmpl[] = "/tmp/velmora-optionsbench-XXXXXX";
    if (!::mkdtemp(tmpl)) return 1;
    const std::string dir = tmpl;
    test::SmtpSink relay;
    const std::string plain = Site(dir + "/plain", relay.Port(), "");
    const std::string options = Site(dir + "/options", relay.Port(),
                                      "post_only = yes\nreplyto_field = field1\nhoneypot_field = website\n"
                                      "mail_charset = auto\ncors_origins = https://shop.example\n"
                                      "rate_limit = 1000000/3600\n");
    {
        std::ofstream counts(dir + "/options/VELMORA.RATE");
        long long now = std::chrono::duration_cast<std::chrono::seconds>(
                            std::chrono::system_clock::now().time_since_epoch()).count();
        for (int i = 0; i < (std::getenv("BENCH_ADDRESSES") ? std::atoi(std::getenv("BENCH_ADDRESSES")) : 9999); ++i) counts << "10." << i / 65536 << '.' << i / 256 % 256 << '.' << i % 256 << ' ' << now << " 3\n";
    }
    const std::string body = OneKilobyteForm();
    const std::vector<std::string> env = {
        "SERVER_SOFTWARE=lighttpd/1.4.69", "GATEWAY_INTERFACE=CGI/1.1", "REQUEST_METHOD=POST",
        "CONTENT_TYPE=application/x-www-form-urlencoded", "CONTENT_LENGTH=1024", "QUERY_STRING=",
        "SCRIPT_NAME=/cgi-bin/velmora", "REMOTE_ADDR=127.0.0.1", "SERVER_PROTOCOL=HTTP/1.1",
        "HTTP_ORIGIN=https://shop.example", "PATH=/usr/bin:/bin"};

    std::vector<double> plainTimes, optionTimes, minimalTimes;
    size_t bytes = 0;
    const int warmup = 10;
    for (int i = 0; i < runs + warmup; ++i) {
        // Alternating runs share whatever load the machine has at the time.
        double p = RunOnce({plain}, env, body, bytes);
        double o = RunOnce({options}, env, body, bytes);
        double m = RunOnce({MINIMAL_CGI}, env, body, bytes);
        if (p < 0 || o < 0 || m < 0) {
            std::fprintf(stderr, "run %d failed (plain %.0f, options %.0f, minimal %.0f)\n", i, p, o, m);
            return 1;
        }
        if (i < warmup) continue;
        plainTimes.push_back(p);
        optionTimes.push_back(o);
        minimalTimes.push_back(m);
    }
    const int delivered = relay.MessageCount();
    std::printf("Form post, whole process, %d runs each, 1024-byte url-encoded form, relay aiosmtpd on 127.0.0.1\n", runs);
    std::printf("  velmora, no VELMORA.CONF     median %8.1f us  p90 %8.1f us\n", Median(plainTimes), Percentile(plainTimes, 0.9));
    std::printf("  velmora, site options on     median %8.1f us  p90 %8.1f us  (counts file %ju bytes)\n",
                Median(optionTimes), Percentile(optionTimes, 0.9),
                static_cast<uintmax_t>(fs::file_size(dir + "/options/VELMORA.RATE")));
    std::printf("  minimal C CGI (no mail)      median %8.1f us  p90 %8.1f us\n", Median(minimalTimes), Percentile(minimalTimes, 0.9));
    std::printf("  options / no options  %.2f\n  options / minimal C   %.2f\n", Median(optionTimes) / Median(plainTimes),
                Median(optionTimes) / Median(minimalTimes));
    std::printf("  mails delivered: %d (expected %d)\n", delivered, 2 * (runs + warmup));
    fs::remove_all(dir);
    return delivered == 2 * (runs + warmup) ? 0 : 1;
}
