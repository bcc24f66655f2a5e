// What the spam rules cost: velmora as a CGI program refusing a 1 KB post by its content rules
// (required and e-mail fields, links, and a blocked word found last among 200) against the same
// program refusing a post for its recipient, in turns. Then the HTTPS client of token
// verification, one POST per fresh process to a local HTTPS server: the project's own client
// against libcurl loaded on demand (time, peak memory, shared objects mapped).
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "BenchSite.h"
#include "ProcessTiming.h"
#include "VerifyStub.h"

namespace fs = std::filesystem;
using namespace velmora;
using namespace velmora::bench;

namespace {

// The relay's port is closed: neither post gets as far as mailing.
std::string Site(const std::string& dir, const std::string& conf) { return CgiSite(VELMORA_PROGRAM, dir, 1, conf); }

std::vector<std::string> CgiEnv(size_t length) {
    return {"SERVER_SOFTWARE=lighttpd/1.4.69", "GATEWAY_INTERFACE=CGI/1.1", "REQUEST_METHOD=POST",
            "CONTENT_TYPE=application/x-www-form-urlencoded", "CONTENT_LENGTH=" + std::to_string(length),
            "QUERY_STRING=", "SCRIPT_NAME=/cgi-bin/velmora", "REMOTE_ADDR=127.0.0.1", "SERVER_PROTOCOL=HTTP/1.1",
            "PATH=/usr/bin:/bin"};
}

// Alternating runs of a and b; their medians in microseconds, or false when a run failed.
bool Alternate(int runs, const std::vector<std::string>& a, const std::vector<std::string>& envA, const std::string& inA,
               const std::vector<std::string>& b, const std::vector<std::string>& envB, const std::string& inB, double& ma,
               double& mb) {
    std::vector<double> ta, tb;
    size_t bytes = 0;
    for (int i = 0; i < runs + 5; ++i) {
        double x = RunOnce(a, envA, inA, bytes), y = RunOnce(b, envB, inB, bytes);
        if (x < 0 || y < 0) {
            std::fprintf(stderr, "run %d failed (%.0f, %.0f)\n", i, x, y);
            return false;
        }
        if (i >= 5) ta.push_back(x), tb.push_back(y);
    }
    ma = Median(ta);
    mb = Median(tb);
    return true;
}

std::string ProbeFigures(const std::string& mode, const std::string& url, const std::string& ca) {
    std::string cmd = std::string(HTTPS_PROBE) + " " + mode + " " + url + " " + ca;
    FILE* p = ::popen(cmd.c_str(), "r");
    std::string out;
    char buf[512];
    while (p && std::fgets(buf, sizeof buf, p)) out = buf;  // the last line
    if (p) ::pclose(p);
    return out.substr(0, out.find('\n'));
}

}  // namespace

int main(int argc, char** argv) {
    const int runs = argc > 1 ? std::atoi(argv[1]) : 200;
    char tmpl[] = "/tmp/velmora-spambench-XXXXXX";
    if (!::mkdtemp(tmpl)) return 1;
    const std::string dir = tmpl;
    {
        std::ofstream words(dir + "/words.txt");
        for (int i = 0; i < 199; ++i) words << "offer number " << i << "\n";
        words << "casino\n";
    }
    const std::string plain = Site(dir + "/plain", "");
    // SPAM_BENCH_CONF replaces the rules (to see what one of them costs).
    const char* conf = std::getenv("SPAM_BENCH_CONF");
    const std::string rules = Site(dir + "/rules", conf ? conf : "required_fields = Name, Email\nemail_fields = Email\nmax_links = 3\n"
                                                   "blocked_words_file = " + dir + "/words.txt\n");
    std::string form = OneKilobyteForm();
    const std::string spam = form.substr(0, 960) + "&Name=Anna&Email=anna%40example.org&T=casino";
    const std::string stranger = form.substr(0, 960) + "&mailto=stranger%40evil.example";
    double ruled = 0, refused = 0;
    if (!Alternate(runs, {rules}, CgiEnv(spam.size()), spam, {plain}, CgiEnv(stranger.size()), stranger, ruled, refused))
        return 1;
    std::printf("%-58s %10s\n", "CGI process, 1 KB post", "median us");
    std::printf("%-58s %10.0f\n", "refused by the content rules (blocked word, 200 listed)", ruled);
    std::printf("%-58s %10.0f\n", "refused for its recipient (no rules)", refused);
    std::printf("ratio %.2fx (goal at most 1.2x), %d runs each\n\n", ruled / refused, runs);

    test::VerifyStub stub("s3cret");
    const std::string url = stub.Url("hcaptcha", "success");
    const int probes = std::max(20, runs / 4);
    double own = 0, curl = 0;
    if (!Alternate(probes, {HTTPS_PROBE, "own", url, stub.CaFile()}, {}, "", {HTTPS_PROBE, "curl", url, stub.CaFile()}, {}, "",
                   own, curl))
        return 1;
    std::printf("%-58s %10s %14s\n", "one verification POST in a fresh process", "median us", "peak KB, libs");
    std::printf("%-58s %10.0f %14s\n", "own client (TCP client + TLS module on demand)", own,
                ProbeFigures("own", url, stub.CaFile()).c_str());
    std::printf("%-58s %10.0f %14s\n", "libcurl loaded on demand", curl, ProbeFigures("curl", url, stub.CaFile()).c_str());
    std::printf("ratio own/curl %.2fx, %d runs each\n", own / curl, probes);
    fs::remove_all(dir);
    return 0;
}
