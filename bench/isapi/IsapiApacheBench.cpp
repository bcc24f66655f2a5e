// Requests per second and 90th-percentile latency of one Apache serving the same form post two
// ways, side by side in one run: velmora's library through the ISAPI module, velmora as a CGI
// program through mod_cgid. wrk with 8 connections; a refused post (no mail) and an accepted one.
#include <cstdio>
#include <cstdlib>
#include <string>

#include "ChildProcess.h"
#include "VelmoraSite.h"
#include "WrkLoad.h"

using namespace velmora;
using namespace velmora::test;
using namespace velmora::bench;

int main(int argc, char** argv) {
    const int seconds = argc > 1 ? std::atoi(argv[1]) : 5;
    TChildRun build;
    build.Args = {"/bin/sh", VELMORA_SOURCE_DIR "/tools/build-mod-isapi.sh", VELMORA_BINARY_DIR "/mod_isapi"};
    build.Env = InheritedEnvironment();
    build.TimeoutMs = 300000;
    TChildResult built = RunChild(build);
    if (built.ExitCode != 0) {
        std::fprintf(stderr, "mod_isapi could not be built:\n%s\n", built.Out.c_str());
        return 1;
    }
    std::string module = built.Out.substr(0, built.Out.find_last_not_of('\n') + 1);
    module = module.substr(module.rfind('\n') + 1);

    IsapiSetup setup{VELMORA_LIBRARY, module};
    VelmoraSite site(VELMORA_PROGRAM, {}, {}, "", &setup);
    WriteSideFiles(site.CgiFile(""), site.SmtpPort());
    WriteSideFiles(site.Dir() + "/cgi-bin", site.SmtpPort());

    const std::string text = std::string(900, 'x');
    const std::string refused = "mailto=stranger%40example.net&Name=Ann&Text=" + text;
    const std::string accepted = "Name=Ann&Text=" + text;
    const std::string isapiUrl = site.ProgramUrl(), cgiUrl = site.Url("/cgi-bin/velmora");
    // Each way must answer as it should before it is timed.
    for (const std::string& url : {isapiUrl, cgiUrl}) {
        if (site.Curl({"--data-binary", refused}, url).Body.find("webmaster@example.org") == std::string::npos ||
            site.Curl({"--data-binary", accepted}, url).Body.find("Thank you.") == std::string::npos) {
            std::fprintf(stderr, "%s does not answer as expected:\n%s\n", url.c_str(), site.ServerErrors().c_str());
            return 1;
        }
    }

    std::printf("Apache 2.4, one instance, wrk 8 connections, %d s per row, ~1 KB url-encoded post\n", seconds);
    std::printf("  %-16s %-10s %12s %12s  %s\n", "post", "velmora as", "requests/s", "p90", "failures");
    double refusedRate[2] = {0, 0};
    const struct {
        const char* Name;
        std::string Body;
    } posts[] = {{"refused (no mail)", refused}, {"accepted (relay)", accepted}};
    for (int p = 0; p < 2; ++p) {
        std::string script = PostScript(site.Dir(), "post" + std::to_string(p), posts[p].Body);
        const std::string urls[2] = {isapiUrl, cgiUrl};
        const char* ways[2] = {"ISAPI", "CGI"};
        for (int w = 0; w < 2; ++w) {
            WrkFigures f = Wrk(urls[w], script, seconds);
            if (p == 0) refusedRate[w] = f.RequestsPerSecond;
            std::printf("  %-16s %-10s %12.1f %12s  %s\n", posts[p].Name, ways[w], f.RequestsPerSecond, f.P90.c_str(),
                        f.Failures.empty() ? "none" : f.Failures.c_str());
        }
    }
    double ratio = refusedRate[1] > 0 ? refusedRate[0] / refusedRate[1] : 0;
    std::printf("  refused post, ISAPI / CGI requests per second: %.1f (goal >= 5): %s\n", ratio,
                ratio >= 5 ? "met" : "NOT met");
    return 0;
}
