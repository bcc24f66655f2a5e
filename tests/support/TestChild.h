// TestChild: a helper program started by a test with pipes on its standard input and output, so the
// test can wait for "ready" lines, release the child by closing its input, or kill it outright.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>
#include <vector>

extern char** environ;

namespace velmora::test {

class TestChild {
public:
    TestChild(const std::string& program, const std::vector<std::string>& args) {
        int in[2], out[2];
        if (::pipe2(in, O_CLOEXEC) != 0 || ::pipe2(out, O_CLOEXEC) != 0) return;
        posix_spawn_file_actions_t fa;
        posix_spawn_file_actions_init(&fa);
        posix_spawn_file_actions_adddup2(&fa, in[0], 0);
        posix_spawn_file_actions_adddup2(&fa, out[1], 1);
        std::vector<char*> argv{const_cast<char*>(program.c_str())};
        for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        if (::posix_spawn(&FPid, program.c_str(), &fa, nullptr, argv.data(), environ) != 0) FPid = -1;
        posix_spawn_file_actions_destroy(&fa);
        ::close(in[0]);
        ::close(out[1]);
        FIn = in[1];
        FOut = out[0];
    }
    ~TestChild() {
        if (FPid > 0) Kill(SIGKILL);
        CloseInput();
        if (FOut >= 0) ::close(FOut);
    }
    TestChild(const TestChild&) = delete;
    TestChild& operator=(const TestChild&) = delete;

    bool Started() const { return FPid > 0; }
    pid_t Pid() const { return FPid; }

    // One line of the child's output without its end, or "" after timeoutMs or at its end.
    std::string ReadLine(int timeoutMs = 10000) {
        std::string line;
        for (;;) {
            pollfd p{FOut, POLLIN, 0};
            if (::poll(&p, 1, timeoutMs) <= 0) return line;
            char c;
            if (::read(FOut, &c, 1) != 1 || c == '\n') return line;
            line += c;
        }
    }
    // The child sees the end of its input: the helpers take that as "finish now".
    void CloseInput() {
        if (FIn >= 0) ::close(FIn);
        FIn = -1;
    }
    // Exit status as waitpid reports it.
    int Wait() {
        int status = -1;
        if (FPid > 0) ::waitpid(FPid, &status, 0);
        FPid = -1;
        return status;
    }
    int Kill(int sig) {
        if (FPid > 0) ::kill(FPid, sig);
        return Wait();
    }

private:
    pid_t FPid = -1;
    int FIn = -1, FOut = -1;
};

}  // namespace velmora::test
