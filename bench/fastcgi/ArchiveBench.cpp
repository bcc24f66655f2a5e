// The archive's cost, side by side in one run, medians of several rounds: velmora's CPU per
// accepted post under delivery = background through nginx + FastCGI with archive off, sqlite and
// postgresql (a server the bench starts); then an export of 100,000 submissions to CSV by
// velmora-ini against sqlite3 -csv of the same rows from the same file.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "PostgresServer.h"
#include "ServerFigures.h"
#include "TempDir.h"
#include "VelmoraSite.h"
#include "WrkLoad.h"

using namespace velmora;
using namespace velmora::test;
using namespace velmora::bench;

namespace {

double Median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[v.size() / 2];
}

int Queued(const VelmoraSite& site) {
    int n = 0;
    if (std::filesystem::exists(site.CgiFile("Outbox")))
        for (const auto& e : std::filesystem::directory_iterator(site.CgiFile("Outbox"))) n += e.path().extension() == ".mail";
    return n;
}

// velmora's CPU microseconds per accepted post (posting and delivering) for one archive value.
double CpuPerPost(const std::string& archive, const std::string& body, int seconds) {
    FastCgiSetup setup{TServerKind::Nginx, 4};
    VelmoraSite site(VELMORA_PROGRAM, {}, {}, "", nullptr, &setup);
    WriteSideFiles(site.CgiFile(""), site.SmtpPort());
    WriteWholeFile(site.CgiFile("VELMORA.CONF"), "delivery = background\noutbox_max_mails = 1000000\narchive = " + archive + "\n");
    std::filesystem::permissions(site.CgiFile("VELMORA.CONF"), std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
    if (site.Post(body).Body.find(ThankYou) == std::string::npos) return -1;
    for (int i = 0; i < 100 && Queued(site) > 0; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(100));
    const int before = site.Smtp().MessageCount();
    const double cpu = CpuMicros(site.FastCgiPid());
    WrkFigures f = Wrk(site.ProgramUrl(), PostScript(site.Dir(), "accepted", body), seconds);
    for (int i = 0; i < 1200 && Queued(site) > 0; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(100));
    const double used = CpuMicros(site.FastCgiPid()) - cpu;
    const int mails = site.Smtp().MessageCount() - before;
    if (!f.Failures.empty()) std::printf("    (%s: wrk failures %s)\n", archive.c_str(), f.Failures.c_str());
    return mails > 0 ? used / mails : -1;
}

double Seconds(const std::vector<std::string>& args, const std::string& outFile) {
    TChildRun run;
    run.Args = {"/bin/sh", "-c", "exec \"$0\" \"$@\" > " + outFile};
    run.Args.insert(run.Args.end(), args.begin(), args.end());
    run.Env = InheritedEnvironment();
    run.TimeoutMs = 600000;
    auto start = std::chrono::steady_clock::now();
    TChildResult r = RunChild(run);
    double s = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    return r.ExitCode == 0 ? s : -1;
}

// 100,000 submissions of four fields each, made in the database by SQL (a post each would take
// an fsync each), in the schema velmora-ini archive init lays out.
bool FillArchive(const std::string& dir) {
    WriteWholeFile(dir + "/VELMORA.CONF", "archive = sqlite\nstore_prefix = bench:\n");
    TChildRun init;
    init.Args = {VELMORA_INI, "archive", "init", dir};
    init.Env = InheritedEnvironment();
    if (RunChild(init).ExitCode != 0) return false;
    const std::string sql =
        "PRAGMA journal_mode=WAL; BEGIN;"
        "WITH RECURSIVE n(i) AS (SELECT 0 UNION ALL SELECT i + 1 FROM n WHERE i < 99999)"
        " INSERT INTO submissions SELECT printf('%08x-0000-7000-8000-%012x', 1700000000 + i, i), 1700000000000 + i * 1000,"
        " 'bench:', '127.0.0.1', 'Mozilla/5.0 (X11; Linux x86_64)', 'https://www.example.org/contact', 'webmaster@example.org',"
        " 'Web form', printf('<%d.bench@example.org>', i), 'utf-8', 'delivered', 1700000000000 + i * 1000, '', NULL FROM n;"
        "INSERT INTO fields SELECT id, 0, 'Name', 'Ann Example ' || rowid FROM submissions;"
        "INSERT INTO fields SELECT id, 1, 'Email', 'ann' || rowid || '@example.net' FROM submissions;"
        "INSERT INTO fields SELECT id, 2, 'Phone', '+49 30 ' || rowid FROM submissions;"
        "INSERT INTO fields SELECT id, 3, 'Message', 'Hello, \"world\"; a line of text of the kind people write.' FROM submissions;"
        "COMMIT;";
    TChildRun fill;
    fill.Args = {"/usr/bin/sqlite3", dir + "/Archive/submissions.db", sql};
    fill.Env = InheritedEnvironment();
    fill.TimeoutMs = 600000;
    return RunChild(fill).ExitCode == 0;
}

void ExportRows(int rounds) {
    TempDir dir;
    if (!FillArchive(dir.Path())) {
        std::printf("export: the archive could not be filled\n");
        return;
    }
    // The same rows and columns sqlite3 can give without velmora: one line per submission, its
    // fields pivoted into columns by name.
    const std::string query =
        "SELECT s.id, s.received, s.state, s.state_at, s.reason, s.client, s.user_agent, s.referer, s.recipients, s.subject,"
        " s.message_id, (SELECT value FROM fields WHERE submission = s.id AND position = 0),"
        " (SELECT value FROM fields WHERE submission = s.id AND position = 1), (SELECT value FROM fields WHERE submission = s.id"
        " AND position = 2), (SELECT value FROM fields WHERE submission = s.id AND position = 3) FROM submissions s ORDER BY s.id";
    std::vector<double> ours, theirs;
    for (int r = 0; r < rounds; ++r) {
        ours.push_back(Seconds({VELMORA_INI, "archive", "export", dir.Path(), "--format", "csv"}, dir.Path() + "/ours.csv"));
        theirs.push_back(Seconds({"/usr/bin/sqlite3", "-csv", dir.Path() + "/Archive/submissions.db", query}, dir.Path() + "/theirs.csv"));
    }
    const double a = Median(ours), b = Median(theirs);
    std::printf("export of 100,000 submissions to CSV, median of %d (s):\n", rounds);
    std::printf("  %-44s %8.3f\n  %-44s %8.3f\n", "velmora-ini archive export --format csv", a, "sqlite3 -csv, same rows and columns", b);
    std::printf("  speed against sqlite3: %.2fx (goal >= 0.8: %s)  %s\n", a > 0 ? b / a : 0,
                a > 0 && b / a >= 0.8 ? "met" : "NOT met", LoadAverage().c_str());
}

}  // namespace

int main(int argc, char** argv) {
    const int seconds = argc > 1 ? std::atoi(argv[1]) : 5;
    const int rounds = argc > 2 ? std::atoi(argv[2]) : 3;
    const std::string body = "Name=Ann&Email=ann%40example.net&Text=" + std::string(900, 'x');
    PostgresServer pg;
    std::printf("accepted posts, delivery = background, nginx + FastCGI (4 threads), wrk 8 connections %d s;"
                " velmora's CPU per post (posting and delivering), median of %d rounds\n", seconds, rounds);
    // A third argument runs that one archive value alone (off, sqlite or postgresql), for a profiler.
    const std::string only = argc > 3 ? argv[3] : "";
    std::vector<double> off, sqlite, postgres;
    for (int r = 0; r < rounds; ++r) {
        if (only.empty() || only == "off") off.push_back(CpuPerPost("off", body, seconds));
        if (only.empty() || only == "sqlite") sqlite.push_back(CpuPerPost("sqlite", body, seconds));
        if (only.empty() || only == "postgresql") postgres.push_back(CpuPerPost(pg.Url(), body, seconds));
    }
    const double o = Median(off), s = Median(sqlite), p = Median(postgres);
    std::printf("  %-30s %10.1f us/post\n  %-30s %10.1f us/post\n  %-30s %10.1f us/post\n", "archive = off", o, "archive = sqlite", s,
                "archive = postgresql", p);
    std::printf("  sqlite / off: %.2fx (goal <= 1.15: %s); postgresql / off: %.2fx (reported)  %s\n", o > 0 ? s / o : 0,
                o > 0 && s / o <= 1.15 ? "met" : "NOT met", o > 0 ? p / o : 0, LoadAverage().c_str());
    if (only.empty()) ExportRows(rounds);
    return 0;
}
