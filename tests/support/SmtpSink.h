// A real SMTP relay for tests: Debian's aiosmtpd (tools/smtp_sink.py) started on a free
// loopback port in a temporary folder, stopped by its process id. Messages arrive as N.eml files.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

namespace velmora::test {

// Starts /usr/bin/python3 with args; the child's pid, or throws.
inline pid_t SpawnPython(const std::vector<std::string>& args) {
    std::vector<char*> argv{const_cast<char*>("/usr/bin/python3")};
    for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    pid_t pid = 0;
    if (posix_spawn(&pid, argv[0], nullptr, nullptr, argv.data(), environ) != 0)
        throw std::runtime_error("cannot start /usr/bin/python3");
    return pid;
}

// Runs /usr/bin/python3 with args to its end; its exit code, and its output in output.
inline int RunPython(const std::vector<std::string>& args, std::string& output) {
    int fds[2];
    if (pipe(fds) != 0) throw std::runtime_error("pipe failed");
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, fds[1], 1);
    posix_spawn_file_actions_adddup2(&actions, fds[1], 2);
    posix_spawn_file_actions_addclose(&actions, fds[0]);
    std::vector<char*> argv{const_cast<char*>("/usr/bin/python3")};
    for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    pid_t pid = 0;
    int rc = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    close(fds[1]);
    if (rc != 0) {
        close(fds[0]);
        throw std::runtime_error("cannot start /usr/bin/python3");
    }
    char buf[4096];
    for (ssize_t n; (n = read(fds[0], buf, sizeof buf)) > 0;) output.append(buf, static_cast<size_t>(n));
    close(fds[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

inline std::string ReadFileBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

// A loopback port where no relay listens (taken from the system, then released): connections to
// it are refused until a sink is started on it with "--port".
inline int UnusedPort() {
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    if (fd < 0 || bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 ||
        getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len) != 0)
        throw std::runtime_error("no free loopback port");
    close(fd);
    return ntohs(a.sin_port);
}

// Waits until the Python server pid writes its port to portFile; the port, or throws (the server
// then stopped by stop).
template <typename Stop>
int WaitForPortFile(pid_t pid, const std::string& portFile, const char* what, Stop stop) {
    auto until = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (!std::filesystem::exists(portFile)) {
        if (std::chrono::steady_clock::now() > until || waitpid(pid, nullptr, WNOHANG) != 0) {
            stop();
            throw std::runtime_error(std::string(what) + " did not start");
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return std::stoi(ReadFileBytes(portFile));
}

// Ends a server this test started, by its process id, and reaps it.
inline void StopChild(pid_t& pid) {
    if (pid <= 0) return;
    kill(pid, SIGTERM);
    waitpid(pid, nullptr, 0);
    pid = 0;
}

class SmtpSink {
public:
    // options: further arguments of the sink, such as "--refuse", ADDRESS.
    explicit SmtpSink(const std::vector<std::string>& options = {}) {
        char tmpl[] = "/tmp/velmora-sink-XXXXXX";
        if (!mkdtemp(tmpl)) throw std::runtime_error("mkdtemp failed");
        FDir = tmpl;
        std::vector<std::string> args{std::string(VELMORA_SOURCE_DIR) + "/tools/smtp_sink.py", FDir};
        args.insert(args.end(), options.begin(), options.end());
        FPid = SpawnPython(args);
        FPort = WaitForPortFile(FPid, FDir + "/port", "aiosmtpd sink", [this] { Stop(); });
    }
    ~SmtpSink() {
        Stop();
        std::error_code ec;
        std::filesystem::remove_all(FDir, ec);
    }
    SmtpSink(const SmtpSink&) = delete;
    SmtpSink& operator=(const SmtpSink&) = delete;

    int Port() const { return FPort; }
    const std::string& Dir() const { return FDir; }
    // Path of the n-th message (from 1); the sink writes it before answering the end of DATA.
    std::string Message(int n) const { return FDir + "/" + std::to_string(n) + ".eml"; }
    std::string Envelope(int n) const { return FDir + "/" + std::to_string(n) + ".json"; }
    int MessageCount() const {
        int n = 0;
        while (std::filesystem::exists(Message(n + 1))) ++n;
        return n;
    }

    void Stop() { StopChild(FPid); }

private:
    std::string FDir;
    pid_t FPid = 0;
    int FPort = 0;
};

}  // namespace velmora::test
