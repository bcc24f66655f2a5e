// Whole-process time of one CGI request: the echo-form example against a minimal C program that
// reads the same 1 KB body and writes a fixed 1 KB page, spawned alternately in the same run.
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

// A url-encoded form of exactly 1024 bytes.
std::string Body() {
    std::string body;
    for (int i = 0; body.size() < 1024; ++i) {
        if (!body.empty()) body += '&';
        body += "field" + std::to_string(i) + "=Hello+World%21+value+number+" + std::to_string(i);
    }
    body.resize(1024);
    return body;
}

// Spawns the program with the request, feeds the body, reads the answer to its end, waits.
// Returns the wall time in microseconds, or -1 when the run failed.
double RunOnce(const std::string& program, const std::vector<std::string>& env, const std::string& body,
               size_t& answerBytes) {
    int in[2], out[2];
    if (::pipe2(in, O_CLOEXEC) || ::pipe2(out, O_CLOEXEC)) return -1;
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    posix_spawn_file_actions_adddup2(&fa, in[0], 0);
    posix_spawn_file_actions_adddup2(&fa, out[1], 1);
    std::vector<char*> argv{const_cast<char*>(program.c_str()), nullptr};
    std::vector<char*> envp;
    for (const auto& e : env) envp.push_back(const_cast<char*>(e.c_str()));
    envp.push_back(nullptr);
    const auto start = Clock::now();
    pid_t pid = 0;
    int rc = ::posix_spawn(&pid, program.c_str(), &fa, nullptr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&fa);
    ::close(in[0]);
    ::close(out[1]);
    if (rc != 0) {
        ::close(in[1]);
        ::close(out[0]);
        return -1;
    }
    // The body fits in the pipe, so writing it first cannot block on the child's output.
    bool ok = ::write(in[1], body.data(), body.size()) == static_cast<ssize_t>(body.size());
    ::close(in[1]);
    answerBytes = 0;
    char buf[65536];
    for (ssize_t n; (n = ::read(out[0], buf, sizeof buf)) != 0;) {
        if (n < 0) {
            if (errno == EINTR) continue;
            ok = false;
            break;
        }
        answerBytes += static_cast<size_t>(n);
    }
    ::close(out[0]);
    int status = 0;
    ::waitpid(pid, &status, 0);
    const auto end = Clock::now();
    if (!ok || !WIFEXITED(status) || WEXITSTATUS(status) != 0) return -1;
    return std::chrono::duration<double, std::micro>(end - start).count();
}

double Median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v.size() % 2 ? v[v.size() / 2] : (v[v.size() / 2 - 1] + v[v.size() / 2]) / 2;
}

double Percentile(std::vector<double> v, double p) {
    std::sort(v.begin(), v.end());
    return v[static_cast<size_t>(p * static_cast<double>(v.size() - 1))];
}

}  // namespace

int main(int argc, char** argv) {
    const int runs = argc > 1 ? std::atoi(argv[1]) : 300;
    const std::string echo = VELMORA_BINARY_DIR "/examples/echoform/echoform";
    const std::string minimal = VELMORA_BINARY_DIR "/bench/cgi/minimal_cgi";
    const std::string body = Body();
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
        double e = RunOnce(echo, env, body, echoBytes);
        double m = RunOnce(minimal, env, body, minimalBytes);
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
