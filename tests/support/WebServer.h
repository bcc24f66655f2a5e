// Real web servers for tests: lighttpd (mod_cgi) or apache2 (mod_cgid) on a free loopback port,
// from a private configuration in a temporary folder, running the CGI programs put in its cgi-bin.
#pragma once

#include <sys/types.h>

#include <memory>
#include <string>
#include <vector>

namespace velmora::test {

enum class TServerKind { Lighttpd, Apache };

class TWebServer {
public:
    // Copies each program into a fresh cgi-bin (which the server's CGI user may write to: the
    // programs keep their logs and uploads beside them) and starts the server. Null, with the
    // reason in why, when the server cannot be started here.
    // extraConfig: lines appended to the server's configuration (lighttpd: a CGI environment
    // with "setenv.add-environment", say).
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

// Reads a whole file; "" when it cannot be read.
std::string ReadWholeFile(const std::string& path);

// Runs curl with the given arguments (plus --silent, --include and a time limit) and returns
// what it printed: the status line, the response headers, a blank line and the body.
std::string Curl(const std::vector<std::string>& args);

}  // namespace velmora::test
