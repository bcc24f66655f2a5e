// Requests per second and 90th-percentile latency of the same form post served two ways, side by
// side in one run: nginx passing it to velmora as a FastCGI server (one process, an event loop and
// a pool of threads), and lighttpd starting velmora as a CGI program for each post; then the
// FastCGI server alone with 1, 2, 4 and 8 threads (its CPU time per post), and with 1,000 idle
// connections held open beside the load (throughput and its memory). wrk with 8 connections; the
// machine's load average beside every row, since other work on it moves the figures.
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "VelmoraSite.h"
#include "ServerFigures.h"
#include "WrkLoad.h"

using namespace velmora;
using namespace velmora::test;
using namespace velmora::bench;

namespace {

long RssKb(int pid) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/status");
    for (std::string line; std::getline(in, line);)
        if (line.rfind("VmRSS:", 0) == 0) return std::atol(line.c_str() + 6);
    return -1;
}

// Connections to the server's socket that never send anything.
std::vector<int> OpenIdle(const std::string& path, int count) {
    std::vector<int> fds;
    sockaddr_un a{};
    a.sun_family = AF_UNIX;
    std::memcpy(a.sun_path, path.c_str(), path.size() + 1);
    for (int i = 0; i < count; ++i) {
        // Not inherited by wrk, whose event loop takes only low descriptor numbers.
        int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (fd < 0 || ::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
            std::fprintf(stderr, "idle connection %d: %s\n", i, std::strerror(errno));
            if (fd >= 0) ::close(fd);
            break;
        }
        fds.push_back(fd);
    }
    return fds;
}

bool AnswersAsExpected(const VelmoraSite& site, const std::string& refused, const std::string& accepted) {
    if (site.Post(refused).Body.find("webmaster@example.org") != std::string::npos &&
        site.Post(accepted).Body.find("Thank you.") != std::string::npos)
        return true;
    std::fprintf(stderr, "%s does not answer as expected:\n%s\n", site.ProgramUrl().c_str(), site.ServerErrors().c_str());
    return false;
}

std::unique_ptr<VelmoraSite> FastCgiSite(int threads) {
    FastCgiSetup setup{TServerKind::Nginx, threads};
    auto site = std::make_unique<VelmoraSite>(VELMORA_PROGRAM, std::vector<std::string>{}, std::vector<std::string>{}, "",
                                              nullptr, &setup);
    WriteSideFiles(site->CgiFile(""), site->SmtpPort());
    return site;
}

}  // namespace

int main(int argc, char** argv) {
    const int seconds = argc > 1 ? std::atoi(argv[1]) : 5;
    const int threads = argc > 2 ? std::atoi(argv[2]) : 8;
    // A thousand idle connections need more descriptors than the usual 1024 on this side too.
    rlimit r{};
    ::getrlimit(RLIMIT_NOFILE, &r);
    r.rlim_cur = r.rlim_max;
    ::setrlimit(RLIMIT_NOFILE, &r);

    std::unique_ptr<VelmoraSite> fastcgi = FastCgiSite(threads);
    VelmoraSite cgi(VELMORA_PROGRAM, {});
    WriteSideFiles(cgi.CgiFile(""), cgi.SmtpPort());

    const std::string text = std::string(900, 'x');
    const std::string refused = "mailto=stranger%40example.net&Name=Ann&Text=" + text;
    const std::string accepted = "Name=Ann&Text=" + text;
    const VelmoraSite* sites[2] = {fastcgi.get(), &cgi};
    // Each way must answer as it should before it is timed.
    for (const VelmoraSite* site : sites)
        if (!AnswersAsExpected(*site, refused, accepted)) return 1;

    std::printf("wrk 8 connections, %d s per row, ~1 KB url-encoded post; FastCGI pool of %d threads\n", seconds, threads);
    std::printf("  %-18s %-26s %12s %12s  %-10s %s\n", "post", "velmora as", "requests/s", "p90", "failures", "load average");
    double refusedRate[2] = {0, 0};
    const struct {
        const char* Name;
        std::string Body;
    } posts[] = {{"refused (no mail)", refused}, {"accepted (relay)", accepted}};
    const char* ways[2] = {"FastCGI behind nginx", "CGI of lighttpd"};
    std::string refusedScript;
    for (int p = 0; p < 2; ++p) {
        std::string script = PostScript(fastcgi->Dir(), "post" + std::to_string(p), posts[p].Body);
        if (p == 0) refusedScript = script;
        for (int w = 0; w < 2; ++w) {
            WrkFigures f = Wrk(sites[w]->ProgramUrl(), script, seconds);
            if (p == 0) refusedRate[w] = f.RequestsPerSecond;
            std::printf("  %-18s %-26s %12.1f %12s  %-10s %s\n", posts[p].Name, ways[w], f.RequestsPerSecond, f.P90.c_str(),
                        f.Failures.empty() ? "none" : f.Failures.c_str(), LoadAverage().c_str());
        }
    }
    double ratio = refusedRate[1] > 0 ? refusedRate[0] / refusedRate[1] : 0;
    std::printf("  refused post, FastCGI / CGI requests per second: %.1f (goal >= 18): %s\n", ratio,
                ratio >= 18 ? "met" : "NOT met");

    // The refused post on servers of 1, 2, 4 and 8 threads: context switches between the loop and
    // the workers should not make a post dearer as threads are added.
    std::printf("\nrefused post, FastCGI behind nginx, by threads of velmora\n");
    std::printf("  %-8s %12s %12s %16s  %s\n", "threads", "requests/s", "p90", "CPU us/request", "load average");
    for (int n : {1, 2, 4, 8}) {
        std::unique_ptr<VelmoraSite> site = FastCgiSite(n);
        if (!AnswersAsExpected(*site, refused, accepted)) return 1;
        const double cpu = CpuMicros(site->FastCgiPid());
        WrkFigures f = Wrk(site->ProgramUrl(), PostScript(site->Dir(), "refused", refused), seconds);
        const double used = CpuMicros(site->FastCgiPid()) - cpu;
        std::printf("  %-8d %12.1f %12s %16.1f  %s\n", n, f.RequestsPerSecond, f.P90.c_str(),
                    f.RequestsPerSecond > 0 ? used / (f.RequestsPerSecond * seconds) : 0.0, LoadAverage().c_str());
    }

    // A thousand connections that send nothing, held open beside the load.
    std::printf("\nrefused post, FastCGI behind nginx (%d threads), with and without 1,000 idle connections\n", threads);
    std::printf("  %-22s %12s %12s %14s  %s\n", "idle connections", "requests/s", "p90", "velmora RSS kB", "load average");
    // Rows without idle connections before and after the one with them: their mean is the
    // measure, so that a change in the machine's other load during the run counts less.
    const int pid = fastcgi->FastCgiPid();
    double rates[3] = {0, 0, 0};
    const int idle[3] = {0, 1000, 0};
    for (int i = 0; i < 3; ++i) {
        std::vector<int> fds = OpenIdle(fastcgi->Dir() + "/fcgi.sock", idle[i]);
        WrkFigures f = Wrk(fastcgi->ProgramUrl(), refusedScript, seconds);
        const long rss = RssKb(pid);
        for (int fd : fds) ::close(fd);
        rates[i] = f.RequestsPerSecond;
        std::printf("  %-22zu %12.1f %12s %14ld  %s\n", fds.size(), f.RequestsPerSecond, f.P90.c_str(), rss, LoadAverage().c_str());
    }
    const double without = (rates[0] + rates[2]) / 2;
    const double share = without > 0 ? rates[1] / without : 0;
    std::printf("  with / without (mean of the rows around it): %.2f (goal >= 0.9): %s\n", share, share >= 0.9 ? "met" : "NOT met");
    return 0;
}
