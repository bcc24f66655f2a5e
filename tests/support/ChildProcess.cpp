// RunChild on POSIX: fork and exec with three pipes; one poll loop feeds standard input and drains
// both outputs, so neither side can block the other; at the time limit the child is killed by pid.
#include "ChildProcess.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <thread>

extern char** environ;

namespace velmora::test {

namespace {

std::vector<char*> CStrings(const std::vector<std::string>& v) {
    std::vector<char*> out;
    for (const auto& s : v) out.push_back(const_cast<char*>(s.c_str()));
    out.push_back(nullptr);
    return out;
}

[[noreturn]] void ExecChild(const TChildRun& run, int in[2], int out[2], int err[2]) {
    ::dup2(in[0], 0);
    ::dup2(out[1], 1);
    ::dup2(err[1], 2);
    for (int fd : {in[0], in[1], out[0], out[1], err[0], err[1]}) ::close(fd);
    if (!run.WorkDir.empty() && ::chdir(run.WorkDir.c_str()) != 0) ::_exit(126);
    auto argv = CStrings(run.Args);
    auto envp = CStrings(run.Env);
    ::execve(argv[0], argv.data(), envp.data());
    ::_exit(127);
}

using Clock = std::chrono::steady_clock;

void CloseFd(int& fd) {
    if (fd >= 0) ::close(fd);
    fd = -1;
}

long MsLeft(Clock::time_point deadline) {
    return static_cast<long>(
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count());
}

// Moves bytes between the pipes until both outputs end (true) or the deadline passes (false).
bool Pump(int& inFd, int& outFd, int& errFd, const std::string& input, TChildResult& r,
          Clock::time_point deadline) {
    size_t sent = 0;
    if (input.empty()) CloseFd(inFd);
    char buf[65536];
    while (outFd >= 0 || errFd >= 0) {
        const long left = MsLeft(deadline);
        if (left <= 0) return false;
        pollfd fds[3] = {{inFd, POLLOUT, 0}, {outFd, POLLIN, 0}, {errFd, POLLIN, 0}};
        if (::poll(fds, 3, static_cast<int>(left)) < 0 && errno != EINTR) return false;
        if (inFd >= 0 && (fds[0].revents & (POLLOUT | POLLERR | POLLHUP))) {
            ssize_t n = ::write(inFd, input.data() + sent, input.size() - sent);
            if (n > 0) sent += static_cast<size_t>(n);
            r.InputWritten = sent;
            if (n < 0 || sent == input.size()) CloseFd(inFd);
        }
        for (int k = 1; k <= 2; ++k) {
            int& fd = k == 1 ? outFd : errFd;
            if (fd < 0 || !(fds[k].revents & (POLLIN | POLLHUP | POLLERR))) continue;
            ssize_t n = ::read(fd, buf, sizeof buf);
            if (n > 0) (k == 1 ? r.Out : r.Err).append(buf, static_cast<size_t>(n));
            else CloseFd(fd);
        }
    }
    return true;
}

// Waits for the child's end until the deadline; false when it is still running then.
bool Reap(pid_t pid, TChildResult& r, Clock::time_point deadline) {
    int status = 0;
    for (;;) {
        pid_t done = ::waitpid(pid, &status, WNOHANG);
        if (done == pid) break;
        if (done < 0) return true;
        if (MsLeft(deadline) <= 0) return false;
        ::usleep(2000);
    }
    if (WIFEXITED(status)) r.ExitCode = WEXITSTATUS(status);
    if (WIFSIGNALED(status)) r.Signal = WTERMSIG(status);
    return true;
}

}  // namespace

TChildResult RunChild(const TChildRun& run) {
    TChildResult r;
    int in[2], out[2], err[2];
    if (::pipe2(in, O_CLOEXEC) || ::pipe2(out, O_CLOEXEC) || ::pipe2(err, O_CLOEXEC)) return r;
    // A child that stops reading must not kill the test with SIGPIPE.
    ::signal(SIGPIPE, SIG_IGN);
    pid_t pid = ::fork();
    if (pid == 0) ExecChild(run, in, out, err);
    ::close(in[0]);
    ::close(out[1]);
    ::close(err[1]);
    int inFd = in[1], outFd = out[0], errFd = err[0];
    if (pid > 0) {
        r.Started = true;
        const auto deadline = Clock::now() + std::chrono::milliseconds(run.TimeoutMs);
        if (!Pump(inFd, outFd, errFd, run.Input, r, deadline) || !Reap(pid, r, deadline)) {
            r.TimedOut = true;
            ::kill(pid, SIGKILL);
            Reap(pid, r, Clock::now() + std::chrono::seconds(10));
        }
    }
    CloseFd(inFd);
    CloseFd(outFd);
    CloseFd(errFd);
    return r;
}

std::vector<std::string> InheritedEnvironment() {
    std::vector<std::string> out;
    for (char** e = environ; e && *e; ++e) out.emplace_back(*e);
    return out;
}

std::vector<pid_t> ProcessesOf(const std::string& program) {
    std::vector<pid_t> pids;
    std::error_code ec;
    for (const auto& e : std::filesystem::directory_iterator("/proc", ec)) {
        const std::string name = e.path().filename();
        if (name.find_first_not_of("0123456789") != std::string::npos) continue;
        if (std::filesystem::read_symlink(e.path() / "exe", ec) == program) pids.push_back(std::stoi(name));
    }
    return pids;
}

bool WaitUntilEnded(pid_t pid, int timeoutMs) {
    // A zombie has no program file left to name: the same test as ProcessesOf.
    const std::string exe = "/proc/" + std::to_string(pid) + "/exe";
    auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        std::error_code ec;
        if (std::filesystem::read_symlink(exe, ec).empty() && ec) return true;
        if (std::chrono::steady_clock::now() > end) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
}

}  // namespace velmora::test
