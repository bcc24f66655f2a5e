// Process helpers of the form-mail tests: run a program to its end with given input, environment and
// folder, or keep one running in the background and stop it by its process id; free loopback ports.
#pragma once

#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "TempDir.h"

namespace velmora::test {

struct RunResult {
    int ExitCode = -1;  // 128 + signal number when killed by a signal
    std::string Out;
    std::string Err;
};

inline std::string ReadWholeFile(const std::string& path) {
    std::ifstream f(path, std::ios::binary);
    std::ostringstream s;
    s << f.rdbuf();
    return s.str();
}

inline void WriteWholeFile(const std::string& path, const std::string& bytes) {
    std::ofstream f(path, std::ios::binary | std::ios::trunc);
    f << bytes;
}

namespace detail {
// After fork, before exec: only async-signal-safe calls.
inline void ExecChild(const std::vector<std::string>& argv, const std::vector<std::string>* env,
                      const std::string& cwd, int in, int out, int err) {
    if (in >= 0) ::dup2(in, 0);
    if (out >= 0) ::dup2(out, 1);
    if (err >= 0) ::dup2(err, 2);
    if (!cwd.empty() && ::chdir(cwd.c_str()) != 0) ::_exit(126);
    std::vector<char*> args;
    for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    if (env) {
        std::vector<char*> envp;
        for (const auto& e : *env) envp.push_back(const_cast<char*>(e.c_str()));
        envp.push_back(nullptr);
        ::execve(args[0], args.data(), envp.data());
    } else {
        ::execvp(args[0], args.data());
    }
    ::_exit(127);
}

inline int WaitExit(pid_t pid) {
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0) {
        if (errno != EINTR) return -1;
    }
    if (WIFEXITED(status)) return WEXITSTATUS(status);
    if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
    return -1;
}
}  // namespace detail

// Runs argv (argv[0] a path, or a name looked up on PATH when env is null) to its end. Input goes
// to its standard input; env, when given, is its whole environment.
inline RunResult RunProgram(const std::vector<std::string>& argv, const std::string& input = "",
                            const std::vector<std::string>* env = nullptr, const std::string& cwd = "") {
    TempDir io;
    WriteWholeFile(io / "in", input);
    int in = ::open((io / "in").c_str(), O_RDONLY | O_CLOEXEC);
    int out = ::open((io / "out").c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    int err = ::open((io / "err").c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    pid_t pid = ::fork();
    if (pid == 0) detail::ExecChild(argv, env, cwd, in, out, err);
    ::close(in);
    ::close(out);
    ::close(err);
    RunResult r;
    if (pid < 0) return r;
    r.ExitCode = detail::WaitExit(pid);
    r.Out = ReadWholeFile(io / "out");
    r.Err = ReadWholeFile(io / "err");
    return r;
}

// A program left running until Stop (or destruction): it is sent SIGTERM by its own process id,
// and SIGKILL when it has not ended within five seconds.
class BackgroundProcess {
public:
    BackgroundProcess() = default;
    BackgroundProcess(const BackgroundProcess&) = delete;
    BackgroundProcess& operator=(const BackgroundProcess&) = delete;
    ~BackgroundProcess() { Stop(); }

    // Output and errors of the program go to logPath.
    void Start(const std::vector<std::string>& argv, const std::string& logPath, const std::string& cwd = "") {
        int log = ::open(logPath.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600);
        int null = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
        FPid = ::fork();
        if (FPid == 0) detail::ExecChild(argv, nullptr, cwd, null, log, log);
        ::close(log);
        ::close(null);
        if (FPid < 0) throw std::runtime_error("fork failed");
    }
    pid_t Pid() const { return FPid; }
    bool Running() {
        if (FPid <= 0) return false;
        int status;
        pid_t r = ::waitpid(FPid, &status, WNOHANG);
        if (r == FPid) FPid = -1;
        return r == 0;
    }
    void Stop() {
        if (FPid <= 0) return;
        ::kill(FPid, SIGTERM);
        for (int i = 0; i < 100; ++i) {
            if (::waitpid(FPid, nullptr, WNOHANG) == FPid) {
                FPid = -1;
                return;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        ::kill(FPid, SIGKILL);
        ::waitpid(FPid, nullptr, 0);
        FPid = -1;
    }

private:
    pid_t FPid = -1;
};

// A loopback port that was free a moment ago (the kernel's choice for port 0).
inline int FreeLoopbackPort() {
    int s = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = 0;
    socklen_t len = sizeof a;
    int port = -1;
    if (::bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0 &&
        ::getsockname(s, reinterpret_cast<sockaddr*>(&a), &len) == 0)
        port = ntohs(a.sin_port);
    ::close(s);
    return port;
}

// True once something accepts connections on the loopback port, waiting up to timeoutMs.
inline bool WaitForPort(int port, int timeoutMs) {
    auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (std::chrono::steady_clock::now() < end) {
        int s = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        a.sin_port = htons(static_cast<uint16_t>(port));
        bool ok = ::connect(s, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
        ::close(s);
        if (ok) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return false;
}

}  // namespace velmora::test
