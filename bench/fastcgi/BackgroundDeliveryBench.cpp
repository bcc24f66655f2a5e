// Accepted posts against the relay's own ceiling, side by side in one run: the relay (aiosmtpd)
// fed by a Python smtplib loop over one kept connection; nginx with velmora as a FastCGI server
// under delivery = background (posts per second until the relay has every mail, and velmora's CPU
// per post); lighttpd with velmora as a CGI program under delivery = now. Load average per row.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <string>
#include <thread>

#include "VelmoraSite.h"
#include "ServerFigures.h"
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

}  // namespace

int main(int argc, char** argv) {
    const int seconds = argc > 1 ? std::atoi(argv[1]) : 5;
    const std::string body = "Name=Ann&Text=" + std::string(900, 'x');
    std::printf("relay aiosmtpd; wrk 8 connections, %d s; ~1 KB url-encoded post\n", seconds);
    std::printf("  %-46s %12s %16s  %s\n", "way", "mails/s", "velmora us/post", "load average");

    SmtpSink relay;
    double ceiling = Ceiling(relay.Port(), 2000);
    std::printf("  %-46s %12.1f %16s  %s\n", "smtplib loop, one kept connection", ceiling, "-", LoadAverage().c_str());

    FastCgiSetup setup{TServerKind::Nginx, 4};
    VelmoraSite fastcgi(VELMORA_PROGRAM, {}, {}, "", nullptr, &setup);
    WriteSideFiles(fastcgi.CgiFile(""), fastcgi.SmtpPort());
    // Room for every post of the run: the figure is the relay's pace, not the outbox's limit.
    WriteWholeFile(fastcgi.CgiFile("VELMORA.CONF"), "delivery = background\noutbox_max_mails = 1000000\n");
    if (fastcgi.Post(body).Body.find(ThankYou) == std::string::npos) return 1;
    fastcgi.Mails(1);
    const int before = fastcgi.Smtp().MessageCount();
    const double cpu = CpuMicros(fastcgi.FastCgiPid());
    auto start = std::chrono::steady_clock::now();
    WrkFigures f = Wrk(fastcgi.ProgramUrl(), PostScript(fastcgi.Dir(), "accepted", body), seconds);
    // Every thanked post is one mail (a post the full outbox refused is none): wait until the
    // outbox holds no message.
    const int posts = static_cast<int>(f.Requests);
    auto queued = [&] {
        int n = 0;
        for (const auto& e : std::filesystem::directory_iterator(fastcgi.CgiFile("Outbox")))
            n += e.path().extension() == ".mail";
        return n;
    };
    for (int idle = 0; idle < 1200 && queued() > 0; ++idle) std::this_thread::sleep_for(std::chrono::milliseconds(100));
    const double elapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    const int delivered = fastcgi.Smtp().MessageCount() - before;
    const double rate = delivered / elapsed, used = CpuMicros(fastcgi.FastCgiPid()) - cpu;
    std::printf("  %-46s %12.1f %16.1f  %s\n", "nginx + FastCGI, background (until delivered)", rate,
                delivered > 0 ? used / delivered : 0.0, LoadAverage().c_str());
    // wrk leaves out the posts still in flight when it stops: a few more mails than its count.
    std::printf("    wrk answered %.1f posts/s (%s failures); %d mails for wrk's %d posts delivered in %.1f s\n",
                f.RequestsPerSecond, f.Failures.empty() ? "no" : f.Failures.c_str(), delivered, posts, elapsed);

    VelmoraSite cgi(VELMORA_PROGRAM, {});
    WriteSideFiles(cgi.CgiFile(""), cgi.SmtpPort());
    WrkFigures c = Wrk(cgi.ProgramUrl(), PostScript(cgi.Dir(), "accepted", body), seconds);
    std::printf("  %-46s %12.1f %16s  %s\n", "lighttpd + CGI, now", c.RequestsPerSecond, "-", LoadAverage().c_str());
    std::printf("  background / ceiling: %.2f (goal >= 0.8); background / CGI now: %.2f\n", ceiling > 0 ? rate / ceiling : 0,
                c.RequestsPerSecond > 0 ? rate / c.RequestsPerSecond : 0);
    return 0;
}
