// What the outbox costs: one form post through velmora (CGI process) whose mail is kept because the
// relay is down (file written, synced, renamed) against one whose mail goes to a local relay; then
// velmora-ini delivering the kept mail in one run against curl sending the same mails one by one.
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "ProcessTiming.h"
#include "SettingsFile.h"
#include "SiteSettings.h"
#include "SmtpSink.h"

namespace fs = std::filesystem;
using namespace velmora;
using namespace velmora::bench;

namespace {

// A program folder with velmora, its settings (relay on port) and an outbox that posts leave alone.
std::string MakeSite(const std::string& dir, int port) {
    fs::create_directories(dir);
    fs::copy_file(VELMORA_PROGRAM, dir + "/velmora");
    TMailSettings s = test::SiteMailSettings(port);
    WriteSettingsFile(dir + "/VELMORA.INI", s);
    std::FILE* f = std::fopen((dir + "/VELMORA.CONF").c_str(), "w");
    std::fputs("outbox = yes\noutbox_request_ms = 0\n", f);
    std::fclose(f);
    return dir + "/velmora";
}

double Seconds(std::chrono::steady_clock::time_point since) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}

}  // namespace

int main(int argc, char** argv) {
    const int runs = argc > 1 ? std::atoi(argv[1]) : 200;
    char tmpl[] = "/tmp/velmora-outboxbench-XXXXXX";
    if (!::mkdtemp(tmpl)) return 1;
    const std::string dir = tmpl;
    const int downPort = test::UnusedPort();
    test::SmtpSink relay;
    const std::string kept = MakeSite(dir + "/down", downPort), sent = MakeSite(dir + "/up", relay.Port());

    const std::string body = OneKilobyteForm();
    const std::vector<std::string> env = {
        "SERVER_SOFTWARE=lighttpd/1.4.69", "GATEWAY_INTERFACE=CGI/1.1", "REQUEST_METHOD=POST",
        "CONTENT_TYPE=application/x-www-form-urlencoded", "CONTENT_LENGTH=1024", "QUERY_STRING=",
        "SCRIPT_NAME=/cgi-bin/velmora", "REMOTE_ADDR=127.0.0.1", "SERVER_PROTOCOL=HTTP/1.1", "PATH=/usr/bin:/bin"};

    std::vector<double> keptTimes, sentTimes;
    size_t keptBytes = 0, sentBytes = 0;
    for (int i = 0; i < runs; ++i) {
        // Alternating runs share whatever load the machine has at the time.
        double k = RunOnce({kept}, env, body, keptBytes);
        double s = RunOnce({sent}, env, body, sentBytes);
        if (k < 0 || s < 0) {
            std::fprintf(stderr, "run %d failed\n", i);
            return 1;
        }
        keptTimes.push_back(k);
        sentTimes.push_back(s);
    }
    size_t files = 0;
    uintmax_t outboxBytes = 0;
    for (const auto& f : fs::directory_iterator(dir + "/down/Outbox"))
        if (f.path().extension() == ".mail") ++files, outboxBytes += f.file_size();

    // The kept mail goes out when the relay is back: one velmora-ini run, against curl once per mail.
    test::SmtpSink back({"--port", std::to_string(downPort)});
    auto start = std::chrono::steady_clock::now();
    size_t out = 0;
    if (RunOnce({VELMORA_INI, "outbox", "flush", dir + "/down"}, env, "", out) < 0) return 1;
    const double flush = Seconds(start);
    const size_t flushed = static_cast<size_t>(back.MessageCount());
    const std::vector<std::string> curl = {"/usr/bin/curl", "--silent", "--show-error",
                                           "smtp://127.0.0.1:" + std::to_string(back.Port()), "--mail-from",
                                           "form@example.org", "--mail-rcpt", "webmaster@example.org",
                                           "--upload-file", back.Message(1)};
    start = std::chrono::steady_clock::now();
    for (size_t i = 0; i < flushed; ++i)
        if (RunOnce(curl, env, "", out) < 0) return 1;
    const double curlTime = Seconds(start);

    std::printf("Outbox, %d posts each, 1024-byte url-encoded form, whole CGI process\n", runs);
    std::printf("  post, relay down, mail kept   median %8.1f us  p90 %8.1f us\n", Median(keptTimes),
                Percentile(keptTimes, 0.9));
    std::printf("  post, relay up, mail sent     median %8.1f us  p90 %8.1f us\n", Median(sentTimes),
                Percentile(sentTimes, 0.9));
    std::printf("  kept files %zu, %.0f bytes each\n", files, files ? double(outboxBytes) / double(files) : 0.0);
    std::printf("Delivering the %zu kept mails to aiosmtpd on 127.0.0.1\n", flushed);
    std::printf("  velmora-ini outbox flush (one run)   %8.3f s  %8.1f us per mail\n", flush, 1e6 * flush / double(flushed));
    std::printf("  curl, one process per mail           %8.3f s  %8.1f us per mail\n", curlTime,
                1e6 * curlTime / double(flushed));
    fs::remove_all(dir);
    return files == static_cast<size_t>(runs) && flushed == files ? 0 : 1;
}
