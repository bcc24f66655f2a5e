// What a site on nginx would otherwise run, side by side behind one nginx and one relay (aiosmtpd):
// velmora as a FastCGI server against a PHP contact script with PHPMailer under PHP-FPM (OPcache
// on, pm = static with as many workers as velmora has threads). Refused posts (requests/s and each
// side's own CPU per post), accepted posts (velmora under delivery = background and now; PHPMailer
// with Nagle off, and stock as a footnote) and memory (PSS of each side's processes). A minimal C
// FastCGI responder behind the same nginx shows the floor of CPU per refused post.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "PostfixRelay.h"
#include "ProcessGroup.h"
#include "VelmoraSite.h"
#include "WrkLoad.h"

using namespace velmora;
using namespace velmora::test;
using namespace velmora::bench;

namespace {

const char* const PhpFpm = "/usr/sbin/php-fpm8.2";

// PHP-FPM in dir/php: a static pool of `workers` on dir/php-fpm.sock, the contact script beside it.
std::unique_ptr<TBackground> StartPhp(const std::string& dir, int workers, int relayPort) {
    const std::string php = dir + "/php";
    std::filesystem::create_directories(php);
    std::filesystem::copy_file(PHP_SCRIPT, php + "/contact.php");
    WriteWholeFile(php + "/relay.ini", "mailfrom = form@example.org\nmailto = webmaster@example.org\nport = " +
                                           std::to_string(relayPort) + "\n");
    WriteWholeFile(php + "/allowed.txt", "webmaster@example.org\n");
    WriteWholeFile(php + "/php-fpm.conf", "[global]\nerror_log = " + php + "/php-fpm.log\ndaemonize = no\n"
                   "[www]\nuser = root\ngroup = root\nlisten = " + dir + "/php-fpm.sock\nlisten.mode = 0666\n"
                   "pm = static\npm.max_children = " + std::to_string(workers) + "\n");
    auto server = std::make_unique<TBackground>(
        std::vector<std::string>{PhpFpm, "-F", "-R", "-y", php + "/php-fpm.conf", "-d", "opcache.enable=1"},
        php + "/php-fpm.out");
    if (!WaitForListener(dir + "/php-fpm.sock")) return nullptr;
    return server;
}

// nginx's locations for the PHP script and the minimal responder, beside velmora's.
std::string PhpLocation() {
    return "location /php/ { include /etc/nginx/fastcgi_params; fastcgi_param SCRIPT_FILENAME @DIR@/php/contact.php; "
           "fastcgi_pass unix:@DIR@/php-fpm.sock; }\n"
           "location /minimal/ { include /etc/nginx/fastcgi_params; fastcgi_pass unix:@DIR@/minimal.sock; }\n";
}

struct Row {
    WrkFigures Load;
    double CpuPerPost = 0;
};

// wrk against url, and the CPU time the given processes spent per answered post meanwhile.
Row Measure(const std::string& url, const std::string& script, int seconds, const std::vector<int>& pids) {
    Row r;
    const double before = CpuMicros(pids);
    r.Load = Wrk(url, script, seconds);
    const double used = CpuMicros(pids) - before;
    r.CpuPerPost = r.Load.Requests > 0 ? used / static_cast<double>(r.Load.Requests) : 0;
    return r;
}

void Print(const char* post, const char* side, const Row& r) {
    std::printf("  %-10s %-34s %11.1f %10s %9.1f  %-12s %s\n", post, side, r.Load.RequestsPerSecond, r.Load.P90.c_str(),
                r.CpuPerPost, r.Load.Failures.empty() ? "none" : r.Load.Failures.c_str(), LoadAverage().c_str());
}

bool Answers(const VelmoraSite& site, const std::string& url, const std::string& body, const std::string& expect) {
    HttpAnswer a = site.Curl({"--data-binary", body}, url);
    if (a.Body.find(expect) != std::string::npos) return true;
    std::fprintf(stderr, "%s answered %d:\n%s\n%s\n", url.c_str(), a.Status, a.Body.c_str(), site.ServerErrors().c_str());
    return false;
}

void WaitOutboxEmpty(const VelmoraSite& site) {
    auto queued = [&] {
        int n = 0;
        for (const auto& e : std::filesystem::directory_iterator(site.CgiFile("Outbox"))) n += e.path().extension() == ".mail";
        return n;
    };
    for (int idle = 0; idle < 1200 && queued() > 0; ++idle) std::this_thread::sleep_for(std::chrono::milliseconds(100));
}

}  // namespace

int main(int argc, char** argv) {
    const int seconds = argc > 1 ? std::atoi(argv[1]) : 5;
    const int threads = argc > 2 ? std::atoi(argv[2]) : 4;
    if (!std::filesystem::exists(PhpFpm) && !InstallBenchPackages(VELMORA_SOURCE_DIR)) return 1;

    FastCgiSetup setup{TServerKind::Nginx, threads};
    VelmoraSite site(VELMORA_PROGRAM, {}, {}, PhpLocation(), nullptr, &setup);
    WriteSideFiles(site.CgiFile(""), site.SmtpPort());
    std::unique_ptr<TBackground> php = StartPhp(site.Dir(), threads, site.SmtpPort());
    if (!php) {
        std::fprintf(stderr, "php-fpm did not start: %s\n", ReadWholeFile(site.Dir() + "/php/php-fpm.out").c_str());
        return 1;
    }
    TBackground minimal({MINIMAL_FCGI, site.Dir() + "/minimal.sock", std::to_string(threads)}, site.Dir() + "/minimal.out");
    if (!WaitForListener(site.Dir() + "/minimal.sock")) {
        std::fprintf(stderr, "minimal_fcgi did not start\n");
        return 1;
    }
    const std::string text(900, 'x');
    const std::string refused = "mailto=stranger%40example.net&Name=Ann&Text=" + text;
    const std::string accepted = "Name=Ann&Text=" + text;
    const std::string phpUrl = site.Url("/php/contact.php"), phpNodelay = phpUrl + "?nodelay=1";
    for (const std::string& url : {site.ProgramUrl(), phpUrl, phpNodelay})
        if (!Answers(site, url, refused, "webmaster@example.org") || !Answers(site, url, accepted, "Thank you.")) return 1;
    site.Mails(3);
    const std::string minimalUrl = site.Url("/minimal/");
    if (!Answers(site, minimalUrl, refused, "Refused.")) return 1;

    const std::string refusedScript = PostScript(site.Dir(), "refused", refused);
    const std::string acceptedScript = PostScript(site.Dir(), "accepted", accepted);
    const std::vector<int> velmora{site.FastCgiPid()};
    const std::vector<int> fpm = WithChildren(static_cast<int>(php->Pid()));
    std::printf("nginx, wrk 8 connections, %d s per row, ~1 KB url-encoded post; velmora %d threads, php-fpm %zu workers"
                " (pm = static, OPcache on); relay aiosmtpd\n", seconds, threads, fpm.size() - 1);
    std::printf("  %-10s %-34s %11s %10s %9s  %-12s %s\n", "post", "side", "requests/s", "p90", "CPU us", "failures",
                "load average");

    Row vr = Measure(site.ProgramUrl(), refusedScript, seconds, velmora);
    Print("refused", "velmora FastCGI", vr);
    Row pr = Measure(phpUrl, refusedScript, seconds, fpm);
    Print("refused", "PHP-FPM", pr);
    Row mr = Measure(minimalUrl, refusedScript, seconds, {static_cast<int>(minimal.Pid())});
    Print("refused", "minimal C FastCGI (floor)", mr);

    // The server started afresh under each delivery setting, so that it reads it as a site would.
    auto underConf = [&](const std::string& conf) {
        WriteWholeFile(site.CgiFile("VELMORA.CONF"), conf);
        site.StopFastCgiServer();
        site.RestartFastCgiServer();
        return Measure(site.ProgramUrl(), acceptedScript, seconds, {site.FastCgiPid()});
    };
    // Room for every post of the run; the row ends when the relay has every mail.
    Row vb = underConf("delivery = background\noutbox_max_mails = 1000000\n");
    WaitOutboxEmpty(site);
    Print("accepted", "velmora FastCGI, background", vb);
    Row vn = underConf("delivery = now\n");
    Print("accepted", "velmora FastCGI, now", vn);
    Row pn = Measure(phpNodelay, acceptedScript, seconds, fpm);
    Print("accepted", "PHPMailer, tcp_nodelay", pn);
    Row ps = Measure(phpUrl, acceptedScript, seconds, fpm);
    Print("accepted", "PHPMailer, stock (footnote)", ps);

    const long vPss = PssKb({site.FastCgiPid()}), pPss = PssKb(WithChildren(static_cast<int>(php->Pid())));
    std::printf("  %-10s %-34s %11ld kB PSS\n  %-10s %-34s %11ld kB PSS (master and %zu workers)\n", "memory",
                "velmora FastCGI", vPss, "memory", "PHP-FPM", pPss, fpm.size() - 1);

    auto ratio = [](double a, double b) { return b > 0 ? a / b : 0; };
    const double cpu = ratio(vr.CpuPerPost, pr.CpuPerPost), bg = ratio(vb.Load.RequestsPerSecond, pn.Load.RequestsPerSecond),
                 mem = ratio(static_cast<double>(vPss), static_cast<double>(pPss));
    std::printf("  refused: velmora / PHP requests/s %.2f; own CPU per post %.2f (goal <= 0.3: %s); floor / PHP %.2f,"
                " velmora / floor %.2f\n", ratio(vr.Load.RequestsPerSecond, pr.Load.RequestsPerSecond), cpu,
                cpu <= 0.3 ? "met" : "NOT met", ratio(mr.CpuPerPost, pr.CpuPerPost), ratio(vr.CpuPerPost, mr.CpuPerPost));
    std::printf("  accepted: background / PHPMailer tcp_nodelay %.2f (goal >= 1.5: %s); now / tcp_nodelay %.2f; "
                "background / stock %.2f\n", bg, bg >= 1.5 ? "met" : "NOT met",
                ratio(vn.Load.RequestsPerSecond, pn.Load.RequestsPerSecond), ratio(vb.Load.RequestsPerSecond, ps.Load.RequestsPerSecond));
    std::printf("  memory: velmora / PHP-FPM PSS %.2f (goal <= 0.2: %s)\n", mem, mem <= 0.2 ? "met" : "NOT met");
    return 0;
}
