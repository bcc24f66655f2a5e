// Whole-process time of one CGI request: the echo-form example against a minimal C program that
// reads the same 1 KB body and writes a fixed 1 KB page, spawned alternately in the same run.
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "ProcessTiming.h"

using namespace velmora::bench;


int main(int argc, char** argv) {
    const int runs = argc > 1 ? std::atoi(argv[1]) : 300;
    const std::string echo = VELMORA_BINARY_DIR "/examples/echoform/echoform";
    const std::string minimal = VELMORA_BINARY_DIR "/bench/cgi/minimal_cgi";
    const std::string body = OneKilobyteForm();
    char logDir[] = "/tmp/velmora-bench-XXXXXX";
    ::mkdtemp(logDir);
    const std::vector<std::string> env = {
        "SERVER_SOFTWARE=lighttpd/1.4.69", "GATEWAY_INTERFACE=CGI/1.1", "REQUEST_METHOD=POST",
        "CONTENT_TYPE=application/x-www-form-urlencoded", "CONTENT_LENGTH=1024", "QUERY_STRING=",
        "SCRIPT_NAME=/cgi-bin/echoform", "REMOTE_ADDR=127.0.0.1", "SERVER_PROTOCOL=HTTP/1.1",
        "PATH=/usr/bin:/bin", std::string("CGI_LOG_DIR=") + logDir};

    std::vector<double> echoTimes, minimalTimes;
    size_t echoBytes = 0, minimalBytes = 0;
    const int warmup = 20;
    for (int i = 0; i < runs + warmup; ++i) {
        // Alternating runs share whatever load the machine has at the time.
        double e = RunOnce({echo}, env, body, echoBytes);
        double m = RunOnce({minimal}, env, body, minimalBytes);
        if (e < 0 || m < 0) {
            std::fprintf(stderr, "run %d failed (echoform %.0f, minimal %.0f)\n", i, e, m);
            return 1;
        }
        if (i < warmup) continue;
        echoTimes.push_back(e);
        minimalTimes.push_back(m);
    }
    const double me = Median(echoTimes), mm = Median(minimalTimes);
    std::printf("CGI whole-process time, %d runs each, 1024-byte url-encoded body\n", runs);
    std::printf("  echoform     median %8.1f us  p90 %8.1f us  answer %zu bytes\n", me,
                Percentile(echoTimes, 0.9), echoBytes);
    std::printf("  minimal C    median %8.1f us  p90 %8.1f us  answer %zu bytes\n", mm,
                Percentile(minimalTimes, 0.9), minimalBytes);
    std::printf("  ratio of medians %.2f (goal <= 2.00): %s\n", me / mm, me / mm <= 2.0 ? "met" : "NOT met");
    std::filesystem::remove_all(logDir);
    return 0;
}
