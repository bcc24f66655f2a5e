// Requests per second and 90th-percentile latency of the same form post served two ways, side by
// side in one run: nginx passing it to velmora as a FastCGI server (one process, a pool of
// threads), and lighttpd starting velmora as a CGI program for each post. wrk with 8 connections;
// a refused post (no mail) and an accepted one (mailed to a local relay).
#include <cstdio>
#include <cstdlib>
#include <string>

#include "VelmoraSite.h"
#include "WrkLoad.h"

using namespace velmora;
using namespace velmora::test;
using namespace velmora::bench;

int main(int argc, char** argv) {
    const int seconds = argc > 1 ? std::atoi(argv[1]) : 5;
    const int threads = argc > 2 ? std::atoi(argv[2]) : 8;
    FastCgiSetup setup{TServerKind::Nginx, threads};
    VelmoraSite fastcgi(VELMORA_PROGRAM, {}, {}, "", nullptr, &setup);
    VelmoraSite cgi(VELMORA_PROGRAM, {});
    WriteSideFiles(fastcgi.CgiFile(""), fastcgi.SmtpPort());
    WriteSideFiles(cgi.CgiFile(""), cgi.SmtpPort());

    const std::string text = std::string(900, 'x');
    const std::string refused = "mailto=stranger%40example.net&Name=Ann&Text=" + text;
    const std::string accepted = "Name=Ann&Text=" + text;
    const VelmoraSite* sites[2] = {&fastcgi, &cgi};
    // Each way must answer as it should before it is timed.
    for (const VelmoraSite* site : sites) {
        if (site->Post(refused).Body.find("webmaster@example.org") == std::string::npos ||
            site->Post(accepted).Body.find("Thank you.") == std::string::npos) {
            std::fprintf(stderr, "%s does not answer as expected:\n%s\n", site->ProgramUrl().c_str(),
                         site->ServerErrors().c_str());
            return 1;
        }
    }

    std::printf("wrk 8 connections, %d s per row, ~1 KB url-encoded post; FastCGI pool of %d threads\n", seconds, threads);
    std::printf("  %-18s %-26s %12s %12s  %s\n", "post", "velmora as", "requests/s", "p90", "failures");
    double refusedRate[2] = {0, 0};
    const struct {
        const char* Name;
        std::string Body;
    } posts[] = {{"refused (no mail)", refused}, {"accepted (relay)", accepted}};
    const char* ways[2] = {"FastCGI behind nginx", "CGI of lighttpd"};
    for (int p = 0; p < 2; ++p) {
        std::string script = PostScript(fastcgi.Dir(), "post" + std::to_string(p), posts[p].Body);
        for (int w = 0; w < 2; ++w) {
            WrkFigures f = Wrk(sites[w]->ProgramUrl(), script, seconds);
            if (p == 0) refusedRate[w] = f.RequestsPerSecond;
            std::printf("  %-18s %-26s %12.1f %12s  %s\n", posts[p].Name, ways[w], f.RequestsPerSecond, f.P90.c_str(),
                        f.Failures.empty() ? "none" : f.Failures.c_str());
        }
    }
    double ratio = refusedRate[1] > 0 ? refusedRate[0] / refusedRate[1] : 0;
    std::printf("  refused post, FastCGI / CGI requests per second: %.1f (goal >= 10): %s\n", ratio,
                ratio >= 10 ? "met" : "NOT met");
    return 0;
}
