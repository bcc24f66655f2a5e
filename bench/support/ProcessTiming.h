// Timing whole processes for the benchmarks: spawn a program with an environment and standard
// input, read its answer to the end, wait for it; medians and percentiles; the 1 KB test form.
#pragma once

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <string>
#include <vector>

namespace velmora::bench {

// Spawns argv (argv[0] a path) with exactly env, writes input to its standard input and closes it,
// reads its standard output to the end and waits. The wall time in microseconds, or -1 when the
// program could not start or did not exit with 0. answerBytes receives the output's length.
inline double RunOnce(const std::vector<std::string>& argv, const std::vector<std::string>& env,
                      const std::string& input, size_t& answerBytes) {
    int in[2], out[2];
    if (::pipe2(in, O_CLOEXEC) || ::pipe2(out, O_CLOEXEC)) return -1;
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    posix_spawn_file_actions_adddup2(&fa, in[0], 0);
    posix_spawn_file_actions_adddup2(&fa, out[1], 1);
    std::vector<char*> args, envp;
    for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    for (const auto& e : env) envp.push_back(const_cast<char*>(e.c_str()));
    envp.push_back(nullptr);
    const auto start = std::chrono::steady_clock::now();
    pid_t pid = 0;
    int rc = ::posix_spawn(&pid, args[0], &fa, nullptr, args.data(), envp.data());
    posix_spawn_file_actions_destroy(&fa);
    ::close(in[0]);
    ::close(out[1]);
    if (rc != 0) {
        ::close(in[1]);
        ::close(out[0]);
        return -1;
    }
    // The input is small enough for the pipe, so writing it first cannot block on the output.
    bool ok = ::write(in[1], input.data(), input.size()) == static_cast<ssize_t>(input.size());
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
    const auto end = std::chrono::steady_clock::now();
    if (!ok || !WIFEXITED(status) || WEXITSTATUS(status) != 0) return -1;
    return std::chrono::duration<double, std::micro>(end - start).count();
}

// A url-encoded form of exactly 1024 bytes whose fields are plain data (no control field names).
inline std::string OneKilobyteForm() {
    std::string body;
    for (int i = 0; body.size() < 1024; ++i) {
        if (!body.empty()) body += '&';
        body += "field" + std::to_string(i) + "=Hello+World%21+value+number+" + std::to_string(i);
    }
    body.resize(1024);
    return body;
}

inline double Median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v.size() % 2 ? v[v.size() / 2] : (v[v.size() / 2 - 1] + v[v.size() / 2]) / 2;
}

inline double Percentile(std::vector<double> v, double p) {
    std::sort(v.begin(), v.end());
    return v[static_cast<size_t>(p * static_cast<double>(v.size() - 1))];
}

}  // namespace velmora::bench
