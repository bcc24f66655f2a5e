// Real web servers for tests: lighttpd (mod_cgi) or apache2 (mod_cgid) on a free loopback port,
// from a private configuration in a temporary folder, running the CGI programs put in its cgi-bin;
// nginx (no CGI) for programs it reaches over FastCGI.
#pragma once

#include <sys/types.h>

#include <memory>
#include <string>
#include <vector>

namespace velmora::test {

enum class TServerKind { Lighttpd, Apache, Nginx };

class TWebServer {
public:
    // Copies each program into a fresh cgi-bin (which the server's CGI user may write to: the
    // programs keep their logs and uploads beside them) and starts the server. Null, with the
    // reason in why, when the server cannot be started here.
    // extraConfig: lines appended to the server's configuration (lighttpd: a CGI environment
    // with "setenv.add-environment", say); under nginx, lines inside its one server block, except
    // those beginning with "upstream ", which go in its http block.
    // "@DIR@" in it stands for the server's folder.
    static std::unique_ptr<TWebServer> Start(TServerKind kind, const std::string& program,
                                             std::string& why, const std::string& extraConfig = "");
    // Stops the server by its pid and removes the folder.
    ~TWebServer();
    TWebServer(const TWebServer&) = delete;
    TWebServer& operator=(const TWebServer&) = delete;

    // "http://127.0.0.1:PORT"
    std::string BaseUrl() const;
    const std::string& Folder() const noexcept { return FDir; }
    std::string CgiBin() const { return FDir + "/cgi-bin"; }
    std::string ErrorLog() const;
    // The server's standard output and error; under lighttpd also its CGI programs' standard error.
    std::string OutputLog() const;

private:
    TWebServer() = default;
    bool Launch(TServerKind kind, std::string& why);
    void Stop() noexcept;

    std::string FDir;
    std::string FExtraConfig;
    int FPort = 0;
    pid_t FPid = -1;
};

// A loopback port that was free a moment ago.
int FreeLoopbackPort();

// A program running in the background (a FastCGI server), its output kept in a file.
class TBackground {
public:
    // Starts args[0] with args, the inherited environment, standard input from /dev/null and
    // standard output and error appended to outputFile.
    TBackground(const std::vector<std::string>& args, const std::string& outputFile);
    // Stop() unless done.
    ~TBackground();
    TBackground(const TBackground&) = delete;
    TBackground& operator=(const TBackground&) = delete;
    pid_t Pid() const noexcept { return FPid; }
    // Sends SIGTERM and waits up to timeoutMs for the end (then SIGKILL); the exit code, or -1
    // when a signal ended it or it had to be killed.
    int Stop(int timeoutMs = 10000);
    // Waits up to timeoutMs for the program to end by itself; its exit code, -1 when a signal
    // ended it, -2 when it is still running.
    int Wait(int timeoutMs);

private:
    pid_t FPid = -1;
};

// Waits up to timeoutMs until something accepts connections at address: a Unix socket path, or
// 127.0.0.1:PORT.
bool WaitForListener(const std::string& address, int timeoutMs = 10000);

// Reads a whole file; "" when it cannot be read.
std::string ReadWholeFile(const std::string& path);

// Runs curl with the given arguments (plus --silent, --include and a time limit) and returns
// what it printed: the status line, the response headers, a blank line and the body.
std::string Curl(const std::vector<std::string>& args);

}  // namespace velmora::test
