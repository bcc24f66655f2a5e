// Accepted posts against the relay's own ceiling, side by side in one run, once with aiosmtpd and
// once with postfix (discarding every mail) as relay: the relay fed by a Python smtplib loop over
// one kept connection; nginx with velmora as a FastCGI server under delivery = background (posts
// per second until the relay has every mail, and velmora's CPU per post); lighttpd with velmora
// as a CGI program under delivery = now. Load average per row. First the floor: the processor time
// one thread spends keeping a 1 KB file as the outbox keeps a mail, on the file system of the site.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <memory>
#include <string>
#include <thread>

#include "PostfixRelay.h"
#include "VelmoraSite.h"
#include "ServerFigures.h"
#include "TempDir.h"
#include "WrkLoad.h"

using namespace velmora;
using namespace velmora::test;
using namespace velmora::bench;

namespace {

double Ceiling(int port, int count) {
    TChildRun run;
    run.Args = {"/usr/bin/python3", SMTP_CEILING, std::to_string(port), std::to_string(count)};
    run.Env = InheritedEnvironment();
    run.TimeoutMs = 600000;
    return std::atof(RunChild(run).Out.c_str());
}

// One relay: how it counts the mails it took, and the port velmora's settings name.
struct Relay {
    const char* Name;
    std::function<int()> Port;      // the site's own sink when this gives 0
    std::function<int(const VelmoraSite&)> Taken;
};

int PortOf(const Relay& relay, const VelmoraSite& site) {
    int port = relay.Port();
    return port ? port : site.SmtpPort();
}

// The three rows with one relay; the ratios below them.
bool Rows(const Relay& relay, const std::string& body, int seconds) {
    SmtpSink probe;  // the ceiling's relay when the site's own sink is the relay
    const int ceilingPort = relay.Port() ? relay.Port() : probe.Port();
    double ceiling = Ceiling(ceilingPort, 2000);
    std::printf("relay %s\n", relay.Name);
    std::printf("  %-46s %12.1f %16s  %s\n", "smtplib loop, one kept connection", ceiling, "-", LoadAverage().c_str());

    FastCgiSetup setup{TServerKind::Nginx, 4};
    VelmoraSite fastcgi(VELMORA_PROGRAM, {}, {}, "", nullptr, &setup);
    WriteSideFiles(fastcgi.CgiFile(""), PortOf(relay, fastcgi));
    // Room for every post of the run: the figure is the relay's pace, not the outbox's limit.
    WriteWholeFile(fastcgi.CgiFile("VELMORA.CONF"), "delivery = background\noutbox_max_mails = 1000000\n");
    if (fastcgi.Post(body).Body.find(ThankYou) == std::string::npos) return false;
    auto queued = [&] {
        int n = 0;
        for (const auto& e : std::filesystem::directory_iterator(fastcgi.CgiFile("Outbox")))
            n += e.path().extension() == ".mail";
        return n;
    };
    for (int idle = 0; idle < 100 && (queued() > 0 || relay.Taken(fastcgi) < 1); ++idle)
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    const int before = relay.Taken(fastcgi);
    const double cpu = CpuMicros(fastcgi.FastCgiPid());
    auto start = std::chrono::steady_clock::now();
    WrkFigures f = Wrk(fastcgi.ProgramUrl(), PostScript(fastcgi.Dir(), "accepted", body), seconds);
    // Every thanked post is one mail (a post the full outbox refused is none): wait until the
    // outbox holds no message.
    const int posts = static_cast<int>(f.Requests);
    for (int idle = 0; idle < 1200 && queued() > 0; ++idle) std::this_thread::sleep_for(std::chrono::milliseconds(100));
    const double elapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    const double used = CpuMicros(fastcgi.FastCgiPid()) - cpu;
    // postfix counts a mail once its queue manager has discarded it, a moment after it took it.
    for (int idle = 0; idle < 100 && relay.Taken(fastcgi) - before < posts; ++idle)
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    const int delivered = relay.Taken(fastcgi) - before;
    const double rate = delivered / elapsed;
    std::printf("  %-46s %12.1f %16.1f  %s\n", "nginx + FastCGI, background (until delivered)", rate,
                delivered > 0 ? used / delivered : 0.0, LoadAverage().c_str());
    // wrk leaves out the posts still in flight when it stops: a few more mails than its count.
    std::printf("    wrk answered %.1f posts/s (%s failures); %d mails for wrk's %d posts delivered in %.1f s\n",
                f.RequestsPerSecond, f.Failures.empty() ? "no" : f.Failures.c_str(), delivered, posts, elapsed);

    VelmoraSite cgi(VELMORA_PROGRAM, {});
    WriteSideFiles(cgi.CgiFile(""), PortOf(relay, cgi));
    WrkFigures c = Wrk(cgi.ProgramUrl(), PostScript(cgi.Dir(), "accepted", body), seconds);
    std::printf("  %-46s %12.1f %16s  %s\n", "lighttpd + CGI, now", c.RequestsPerSecond, "-", LoadAverage().c_str());
    std::printf("  background / ceiling: %.2f (goal >= 0.8: %s); background / CGI now: %.2f\n\n",
                ceiling > 0 ? rate / ceiling : 0, ceiling > 0 && rate / ceiling >= 0.8 ? "met" : "NOT met",
                c.RequestsPerSecond > 0 ? rate / c.RequestsPerSecond : 0);
    return true;
}

// The floor program's two figures (synced, unsynced) in a fresh folder beside the sites'.
void Floor() {
    TempDir dir;
    TChildRun run;
    run.Args = {DURABLE_WRITE_FLOOR, dir.Path() + "/floor", "2000"};
    run.Env = InheritedEnvironment();
    run.TimeoutMs = 600000;
    double synced = 0, unsynced = 0;
    if (std::sscanf(RunChild(run).Out.c_str(), "%lf %lf", &synced, &unsynced) != 2) return;
    std::printf("floor, one thread keeping 1 KB files (C, 2000 files): %.1f us/file synced as the outbox does, %.1f"
                " us/file without the syncs  %s\n", synced, unsynced, LoadAverage().c_str());
}

}  // namespace

int main(int argc, char** argv) {
    const int seconds = argc > 1 ? std::atoi(argv[1]) : 5;
    const std::string body = "Name=Ann&Text=" + std::string(900, 'x');
    std::printf("wrk 8 connections, %d s; ~1 KB url-encoded post; FastCGI pool of 4 threads\n", seconds);
    Floor();
    std::printf("  %-46s %12s %16s  %s\n", "way", "mails/s", "velmora us/post", "load average");
    const Relay sink{"aiosmtpd", [] { return 0; }, [](const VelmoraSite& s) { return s.Smtp().MessageCount(); }};
    if (!Rows(sink, body, seconds)) return 1;
    if (!InstallBenchPackages(VELMORA_SOURCE_DIR)) return 1;
    PostfixRelay postfix;
    if (!postfix.Ok()) {
        std::fprintf(stderr, "postfix did not start\n");
        return 1;
    }
    const Relay mta{"postfix (discard transport)", [&] { return postfix.Port(); },
                    [&](const VelmoraSite&) { return postfix.Discarded(); }};
    return Rows(mta, body, seconds) ? 0 : 1;
}
