// What sharing the rate limit through Redis costs a post, side by side with the counts file in one
// run: velmora as a CGI program (a connection per start; also the file store with libhiredis
// preloaded, which is what linking it would cost every start) and as a FastCGI server behind nginx
// (one connection per thread), for a post the limit refuses and one it lets through to the relay.
// Then one site on two FastCGI nodes against one node behind the same nginx, both on this machine.
#include <sys/stat.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "ProcessTiming.h"
#include "RedisServer.h"
#include "SecondNode.h"
#include "ServerFigures.h"
#include "VelmoraSite.h"
#include "WrkLoad.h"

namespace fs = std::filesystem;
using namespace velmora;
using namespace velmora::test;
using namespace velmora::bench;

namespace {

const char* kRefuse = "rate_limit = 1/86400\n";       // after the first post, every post is refused
const char* kAdmit = "rate_limit = 1000000/3600\n";   // every post goes on to the relay
const char* kHiredis = "/usr/lib/x86_64-linux-gnu/libhiredis.so.0.14";

void WriteConf(const std::string& folder, const std::string& conf) {
    const std::string path = folder + "/VELMORA.CONF";
    std::ofstream(path) << conf;
    ::chmod(path.c_str(), 0600);
}

// A CGI program folder of its own: the program, settings and allowed list, and conf.
std::string CgiSite(const std::string& dir, int smtpPort, const std::string& conf) {
    fs::create_directories(dir);
    fs::copy_file(VELMORA_PROGRAM, dir + "/velmora");
    WriteSideFiles(dir, smtpPort);
    WriteConf(dir, conf);
    return dir + "/velmora";
}

struct TCgiRow {
    const char* Name;
    std::string Program;
    bool Preload;
    std::vector<double> Times;
};

void CgiRows(const std::string& dir, const RedisServer& redis, int runs) {
    SmtpSink relay;
    const std::string redisConf = "store = " + redis.Url() + "\n";
    TCgiRow rows[] = {
        {"refused, store = file", CgiSite(dir + "/rf", relay.Port(), kRefuse), false, {}},
        {"refused, store = redis", CgiSite(dir + "/rr", relay.Port(), redisConf + kRefuse), false, {}},
        {"refused, file + libhiredis preloaded", dir + "/rf/velmora", true, {}},
        {"accepted, store = file", CgiSite(dir + "/af", relay.Port(), kAdmit), false, {}},
        {"accepted, store = redis", CgiSite(dir + "/ar", relay.Port(), redisConf + kAdmit), false, {}},
    };
    const std::string body = OneKilobyteForm();
    std::vector<std::string> env = {
        "SERVER_SOFTWARE=lighttpd/1.4.69", "GATEWAY_INTERFACE=CGI/1.1", "REQUEST_METHOD=POST",
        "CONTENT_TYPE=application/x-www-form-urlencoded", "CONTENT_LENGTH=1024", "QUERY_STRING=",
        "SCRIPT_NAME=/cgi-bin/velmora", "REMOTE_ADDR=192.0.2.10", "SERVER_PROTOCOL=HTTP/1.1", "PATH=/usr/bin:/bin"};
    std::vector<std::string> preloaded = env;
    preloaded.push_back(std::string("LD_PRELOAD=") + kHiredis);
    size_t bytes = 0;
    const int warmup = 10;
    for (int i = 0; i < runs + warmup; ++i)
        for (TCgiRow& r : rows) {  // alternating: every row shares the machine's load of the moment
            double t = RunOnce({r.Program}, r.Preload ? preloaded : env, body, bytes);
            if (t < 0) {
                std::fprintf(stderr, "%s: run %d failed\n", r.Name, i);
                std::exit(1);
            }
            if (i >= warmup) r.Times.push_back(t);
        }
    std::printf("CGI, whole process, %d runs each, 1 KB form, relay aiosmtpd, redis-server on 127.0.0.1\n", runs);
    for (const TCgiRow& r : rows)
        std::printf("  %-38s median %8.1f us  p90 %8.1f us\n", r.Name, Median(r.Times), Percentile(r.Times, 0.9));
    std::printf("  redis - file, refused:  %+.1f us;  accepted: %+.1f us;  libhiredis preloaded - file: %+.1f us\n",
                Median(rows[1].Times) - Median(rows[0].Times), Median(rows[4].Times) - Median(rows[3].Times),
                Median(rows[2].Times) - Median(rows[0].Times));
    std::printf("  mails delivered: %d (expected %d)\n\n", relay.MessageCount(), 2 * (runs + warmup) + 2);
}

std::unique_ptr<VelmoraSite> FastCgiSite(const std::string& conf, const std::string& extraWeb = "") {
    FastCgiSetup setup{TServerKind::Nginx, 4};
    auto site = std::make_unique<VelmoraSite>(VELMORA_PROGRAM, std::vector<std::string>{}, std::vector<std::string>{},
                                              extraWeb, nullptr, &setup);
    WriteSideFiles(site->CgiFile(""), site->SmtpPort());
    WriteConf(site->CgiFile(""), conf);
    return site;
}

void FastCgiRows(const RedisServer& redis, int seconds) {
    std::printf("FastCGI behind nginx, 4 threads, ~1 KB post; wrk 1 connection (time per post) and 8 (throughput)\n");
    std::printf("  %-26s %12s %10s %12s %10s  %s\n", "post, store", "1 conn req/s", "ms/post", "8 conn req/s", "p90",
                "load average");
    const std::string body = "Name=Ann&Text=" + std::string(900, 'x');
    double perPost[4] = {0, 0, 0, 0};
    const struct {
        const char* Name;
        std::string Conf;
    } rows[] = {{"refused, file", kRefuse},
                {"refused, redis", "store = " + redis.Url() + "\n" + kRefuse},
                {"accepted, file", kAdmit},
                {"accepted, redis", "store = " + redis.Url() + "\n" + kAdmit}};
    for (int i = 0; i < 4; ++i) {
        auto site = FastCgiSite(rows[i].Conf);
        std::string script = PostScript(site->Dir(), "post", body);
        site->Post(body);  // the one post a refusing limit admits
        WrkFigures one = Wrk(site->ProgramUrl(), script, seconds, 1);
        WrkFigures eight = Wrk(site->ProgramUrl(), script, seconds);
        perPost[i] = one.RequestsPerSecond > 0 ? 1000.0 / one.RequestsPerSecond : 0;
        std::printf("  %-26s %12.1f %10.3f %12.1f %10s  %s\n", rows[i].Name, one.RequestsPerSecond, perPost[i],
                    eight.RequestsPerSecond, eight.P90.c_str(), LoadAverage().c_str());
    }
    std::printf("  redis - file per post: refused %+.3f ms, accepted %+.3f ms (goal <= 0.2 ms)\n\n", perPost[1] - perPost[0],
                perPost[3] - perPost[2]);
}

void NodeRows(const RedisServer& redis, int seconds) {
    std::printf("one site on one FastCGI node against two nodes (round robin), nginx, store = redis, wrk 8 connections\n");
    std::printf("  %-22s %-10s %12s %10s  %s\n", "post", "nodes", "requests/s", "p90", "load average");
    const std::string body = "Name=Ann&Text=" + std::string(900, 'x');
    for (const char* limit : {kRefuse, kAdmit}) {
        auto site = FastCgiSite("store = " + redis.Url() + "\nstore_prefix = bench" + std::to_string(limit == kAdmit) +
                                    ":\n" + limit,
                                TwoNodeUpstream());
        SecondNode second(*site);
        second.Start(4);
        std::string script = PostScript(site->Dir(), "post", body);
        site->Post(body);
        const char* name = limit == kRefuse ? "refused (limit)" : "accepted (relay)";
        WrkFigures two = Wrk(second.Url(), script, seconds);
        WrkFigures one = Wrk(site->ProgramUrl(), script, seconds);
        std::printf("  %-22s %-10s %12.1f %10s  %s\n", name, "one", one.RequestsPerSecond, one.P90.c_str(), LoadAverage().c_str());
        std::printf("  %-22s %-10s %12.1f %10s  %s\n", name, "two", two.RequestsPerSecond, two.P90.c_str(), LoadAverage().c_str());
        std::printf("  (node 1 counter %d, node 2 counter %d)\n", ReadSettingsFile(site->CgiFile("VELMORA.INI"))->Counter(),
                    ReadSettingsFile(second.Folder() + "VELMORA.INI")->Counter());
        second.Stop();
    }
}

}  // namespace

int main(int argc, char** argv) {
    const int seconds = argc > 1 ? std::atoi(argv[1]) : 5;
    const int runs = argc > 2 ? std::atoi(argv[2]) : 200;
    const std::string only = argc > 3 ? argv[3] : "";  // cgi, fastcgi or nodes: that part alone
    char tmpl[] = "/tmp/velmora-storebench-XXXXXX";
    if (!::mkdtemp(tmpl)) return 1;
    RedisServer redis;
    if (only.empty() || only == "cgi") CgiRows(tmpl, redis, runs);
    if (only.empty() || only == "fastcgi") FastCgiRows(redis, seconds);
    if (only.empty() || only == "nodes") NodeRows(redis, seconds);
    fs::remove_all(tmpl);
    return 0;
}
