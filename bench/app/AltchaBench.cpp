// What the proof-of-work rule costs, side by side in one run: checking one solved payload in
// velmora against altcha-lib's verifySolution under node for the same challenge and cost; a post
// the rule refuses against a plain refused post (whole CGI processes); and challenges issued per
// second by velmora as a FastCGI server behind nginx against its cheapest answer (405).
#include <sys/stat.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "AltchaCheck.h"
#include "Base64Decode.h"
#include "MailEncoding.h"
#include "ProcessTiming.h"
#include "ServerFigures.h"
#include "VelmoraSite.h"
#include "WrkLoad.h"

namespace fs = std::filesystem;
using namespace velmora;
using namespace velmora::test;
using namespace velmora::bench;

namespace {

const std::string kKey = "benchmark-key-of-the-altcha-rule";
const std::string kPeers = VELMORA_BINARY_DIR "/npm-altcha";
// The altcha_cost key's default, which the refused-post rows' site keeps.
constexpr unsigned kSiteCost = 1000;

std::string Node(const std::vector<std::string>& args, const std::string& input) {
    TChildRun run;
    run.Args = {"/usr/bin/node", VELMORA_SOURCE_DIR "/tests/support/altcha_peer.mjs", kPeers};
    run.Args.insert(run.Args.end(), args.begin(), args.end());
    run.Env = InheritedEnvironment();
    run.Input = input;
    run.TimeoutMs = 300000;
    TChildResult r = RunChild(run);
    if (r.ExitCode != 0) std::fprintf(stderr, "node: %s\n", r.Err.c_str());
    return r.Out;
}

double Micros(std::chrono::steady_clock::time_point since) {
    return std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - since).count();
}

std::string UrlEncode(const std::string& s) {
    std::string out;
    for (unsigned char c : s) {
        if (std::isalnum(c)) out += static_cast<char>(c);
        else {
            char hex[4];
            std::snprintf(hex, sizeof hex, "%%%02X", c);
            out += hex;
        }
    }
    return out;
}

// One payload checked in this process and by altcha-lib, at the given cost.
bool VerifyRow(unsigned cost, int times) {
    TAltchaSettings s;
    s.HmacKey = kKey;
    s.Cost = cost;
    s.PrefixDigits = 2;  // the solving is not timed here; a short prefix keeps the set-up quick
    const int64_t now = std::time(nullptr);
    std::string payload = Node({"solve"}, IssueAltchaChallenge(s, now));
    auto claimed = [](const std::string&, int64_t) { return EClaim::Claimed; };
    auto start = std::chrono::steady_clock::now();
    std::string first = CheckAltchaPayload(s, payload, now, claimed);
    double firstMicros = Micros(start);
    std::vector<double> each;
    for (int i = 0; i < times; ++i) {
        start = std::chrono::steady_clock::now();
        if (!CheckAltchaPayload(s, payload, now, claimed).empty()) return false;
        each.push_back(Micros(start));
    }
    std::string node = Node({"verify", kKey, std::to_string(times)}, payload);
    double nodeMicros = std::atof(LineAfter(node, "\"microsPerVerify\":").c_str());
    bool nodeVerified = node.find("\"verified\":true") != std::string::npos;
    std::printf("  cost %7u  velmora median %8.1f us (first call %8.1f us)  altcha-lib %8.1f us  "
                "velmora / altcha-lib %.2f  %s\n",
                cost, Median(each), firstMicros, nodeMicros, Median(each) / nodeMicros,
                first.empty() && nodeVerified ? "both verified" : "NOT verified by both");
    return first.empty() && nodeVerified;
}

std::string CgiSite(const std::string& dir, int port, const std::string& conf) {
    fs::create_directories(dir);
    fs::copy_file(VELMORA_PROGRAM, dir + "/velmora");
    WriteSideFiles(dir, port);
    if (!conf.empty()) {
        std::ofstream(dir + "/VELMORA.CONF") << conf;
        fs::permissions(dir + "/VELMORA.CONF", fs::perms::owner_read | fs::perms::owner_write);
    }
    return dir + "/velmora";
}

}  // namespace

int main(int argc, char** argv) {
    const int runs = argc > 1 ? std::atoi(argv[1]) : 200;
    const int seconds = argc > 2 ? std::atoi(argv[2]) : 5;
    TChildRun install;
    install.Args = {"/bin/sh", VELMORA_SOURCE_DIR "/tests/support/install-altcha-peers.sh", kPeers};
    install.Env = InheritedEnvironment();
    install.TimeoutMs = 300000;
    if (RunChild(install).ExitCode != 0) return 1;

    std::printf("Checking one solved payload (PBKDF2/SHA-256, 32-byte key) in process, %d times (cost 100000: %d)\n",
                runs * 10, runs / 2);
    for (unsigned cost : {1000u, 5000u, 100000u})
        if (!VerifyRow(cost, cost > 10000 ? runs / 2 : runs * 10)) return 1;

    // Whole CGI processes: a post refused for its recipient (no site options) against posts the
    // proof-of-work rule refuses, with no payload and with a payload whose solution is wrong (the
    // dearest refusal: the signature's HMAC and one PBKDF2 run of the challenge's cost, the
    // site's default). No OpenSSL is loaded for it: its loading alone costs about a millisecond.
    char tmpl[] = "/tmp/velmora-altchabench-XXXXXX";
    if (!::mkdtemp(tmpl)) return 1;
    const std::string dir = tmpl;
    SmtpSink relay;
    const std::string conf = "altcha = required\naltcha_hmac_key = " + kKey + "\n";
    const std::string plain = CgiSite(dir + "/plain", relay.Port(), "");
    const std::string altcha = CgiSite(dir + "/altcha", relay.Port(), conf);
    TAltchaSettings s;
    s.HmacKey = kKey;
    s.Cost = kSiteCost;  // what the site above issues: altcha_cost left at its default
    std::string challenge = IssueAltchaChallenge(s, std::time(nullptr));
    // The solution of another challenge: its counter is wrong for this one, so the check does all
    // its work (signature, PBKDF2) and never reaches the claim.
    std::string mine, other;
    if (!DecodeBase64Strict(Node({"solve"}, challenge), mine) ||
        !DecodeBase64Strict(Node({"solve"}, IssueAltchaChallenge(s, std::time(nullptr))), other))
        return 1;
    const std::string wrong = EncodeBase64(mine.substr(0, mine.find("\"solution\"")) + other.substr(other.find("\"solution\"")));
    const std::string form = OneKilobyteForm();
    const struct {
        const char* Name;
        std::string Program, Body;
    } posts[] = {
        {"refused recipient, no options", plain, "mailto=stranger%40example.net&" + form},
        {"altcha missing", altcha, form},
        {"altcha wrong solution", altcha, form + "&altcha=" + UrlEncode(wrong)},
    };
    std::vector<double> times[3];
    size_t bytes = 0;
    for (int i = 0; i < runs + 10; ++i)
        for (int p = 0; p < 3; ++p) {
            std::vector<std::string> env = {
                "SERVER_SOFTWARE=lighttpd/1.4.69", "GATEWAY_INTERFACE=CGI/1.1", "REQUEST_METHOD=POST",
                "CONTENT_TYPE=application/x-www-form-urlencoded", "CONTENT_LENGTH=" + std::to_string(posts[p].Body.size()),
                "QUERY_STRING=", "SCRIPT_NAME=/cgi-bin/velmora", "REMOTE_ADDR=127.0.0.1", "SERVER_PROTOCOL=HTTP/1.1",
                "PATH=/usr/bin:/bin"};
            double t = RunOnce({posts[p].Program}, env, posts[p].Body, bytes);
            if (t < 0) return 1;
            if (i >= 10) times[p].push_back(t);
        }
    std::printf("\nRefused post, whole CGI process, %d runs each (load average %s)\n", runs, LoadAverage().c_str());
    for (int p = 0; p < 3; ++p)
        std::printf("  %-32s median %8.1f us  p90 %8.1f us  / plain refused %.2f (goal <= 1.2)\n", posts[p].Name,
                    Median(times[p]), Percentile(times[p], 0.9), Median(times[p]) / Median(times[0]));
    std::string log = ReadWholeFile(dir + "/altcha/Log/velmora.Log");
    bool logged = log.find("spam: altcha missing") != std::string::npos && log.find("spam: altcha wrong solution") != std::string::npos;
    std::printf("  mails delivered: %d (expected 0); refusals logged with their reasons: %s\n", relay.MessageCount(),
                logged ? "yes" : "NO");
    fs::remove_all(dir);

    // Challenges from velmora the FastCGI server behind nginx, against its 405 for a plain GET.
    FastCgiSetup setup{TServerKind::Nginx, 4};
    VelmoraSite site(VELMORA_PROGRAM, {}, {}, "", nullptr, &setup);
    WriteSideFiles(site.CgiFile(""), site.SmtpPort());
    std::ofstream(site.CgiFile("VELMORA.CONF")) << conf << "post_only = yes\n";
    fs::permissions(site.CgiFile("VELMORA.CONF"), fs::perms::owner_read | fs::perms::owner_write);
    if (site.Curl({}, site.ProgramUrl() + "?altcha").Body.find("\"signature\"") == std::string::npos) {
        std::fprintf(stderr, "no challenge from the FastCGI server:\n%s\n", site.ServerErrors().c_str());
        return 1;
    }
    std::string get = site.Dir() + "/get.lua";
    std::ofstream(get) << "wrk.method = \"GET\"\n";
    std::printf("\nwrk 8 connections, %d s per row, velmora as a FastCGI server (4 threads) behind nginx\n", seconds);
    for (const char* query : {"?altcha", ""}) {
        WrkFigures f = Wrk(site.ProgramUrl() + query, get, seconds);
        std::printf("  GET %-8s %-28s %10.1f requests/s  p90 %-10s failures %s  load %s\n", query,
                    *query ? "(a fresh challenge)" : "(405, post_only)", f.RequestsPerSecond, f.P90.c_str(),
                    f.Failures.empty() ? "none" : f.Failures.c_str(), LoadAverage().c_str());
    }
    return relay.MessageCount() == 0 && logged ? 0 : 1;
}
