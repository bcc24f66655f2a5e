// Starting and stopping lighttpd and apache2 for tests: private configuration, a port found by
// binding to port 0, readiness by connecting, stop by SIGTERM to the server's own pid.
#include "WebServer.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>
#include <vector>

#include "ChildProcess.h"

namespace velmora::test {

namespace fs = std::filesystem;

int FreeLoopbackPort() {
    int s = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    int port = 0;
    if (::bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0 &&
        ::getsockname(s, reinterpret_cast<sockaddr*>(&a), &len) == 0)
        port = ntohs(a.sin_port);
    ::close(s);
    return port;
}

namespace {

bool Accepts(int port) {
    int s = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<uint16_t>(port));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bool ok = ::connect(s, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
    ::close(s);
    return ok;
}

void WriteText(const std::string& path, const std::string& text) {
    std::ofstream(path, std::ios::binary) << text;
}

std::string LighttpdConfig(const std::string& dir, int port) {
    return "server.document-root = \"" + dir + "/www\"\n"
           "server.bind = \"127.0.0.1\"\n"
           "server.port = " + std::to_string(port) + "\n"
           "server.errorlog = \"" + dir + "/error.log\"\n"
           "server.modules = ( \"mod_alias\", \"mod_cgi\" )\n"
           "alias.url = ( \"/cgi-bin/\" => \"" + dir + "/cgi-bin/\" )\n"
           "$HTTP[\"url\"] =~ \"^/cgi-bin/\" { cgi.assign = ( \"\" => \"\" ) }\n"
           "mimetype.assign = ( \".html\" => \"text/html\" )\n";
}

std::string ApacheConfig(const std::string& dir, int port) {
    const std::string mods = "/usr/lib/apache2/modules/";
    return "ServerRoot " + dir + "\n"
           "Listen 127.0.0.1:" + std::to_string(port) + "\n"
           "ServerName 127.0.0.1\n"
           "PidFile " + dir + "/httpd.pid\n"
           "ErrorLog " + dir + "/error.log\n"
           "LoadModule mpm_event_module " + mods + "mod_mpm_event.so\n"
           "LoadModule authz_core_module " + mods + "mod_authz_core.so\n"
           "LoadModule alias_module " + mods + "mod_alias.so\n"
           "LoadModule cgid_module " + mods + "mod_cgid.so\n"
           "User www-data\nGroup www-data\n"
           "ScriptSock " + dir + "/cgid.sock\n"
           "DocumentRoot " + dir + "/www\n"
           "ScriptAlias /cgi-bin/ " + dir + "/cgi-bin/\n"
           "<Directory " + dir + "/cgi-bin>\n  Require all granted\n</Directory>\n";
}

// The worker processes run as root when the master does, so that they reach a FastCGI socket
// that the test's program (running as the test's user) made for its owner and group. Lines that
// begin with "upstream " belong to the http block (a group of FastCGI nodes), the rest to the server.
std::string NginxConfig(const std::string& dir, int port, const std::string& extraLines) {
    std::string httpLines, serverLines;
    for (size_t pos = 0; pos < extraLines.size();) {
        size_t end = extraLines.find('\n', pos);
        if (end == std::string::npos) end = extraLines.size();
        std::string line = extraLines.substr(pos, end - pos) + "\n";
        (line.rfind("upstream ", 0) == 0 ? httpLines : serverLines) += line;
        pos = end + 1;
    }
    std::string temps = httpLines;
    for (const char* t : {"client_body", "fastcgi", "proxy", "uwsgi", "scgi"})
        temps += std::string("  ") + t + "_temp_path " + dir + "/tmp_" + t + ";\n";
    return std::string(::getuid() == 0 ? "user root;\n" : "") + "pid " + dir + "/nginx.pid;\nerror_log " + dir +
           "/error.log;\nworker_processes 2;\nevents { worker_connections 256; }\n"
           "http {\n  access_log off;\n" + temps + "  server {\n    listen 127.0.0.1:" + std::to_string(port) +
           ";\n    root " + dir + "/www;\n" + serverLines + "\n  }\n}\n";
}

}  // namespace

std::unique_ptr<TWebServer> TWebServer::Start(TServerKind kind, const std::string& program,
                                              std::string& why, const std::string& extraConfig) {
    std::unique_ptr<TWebServer> server(new TWebServer);
    server->FExtraConfig = extraConfig;
    char tmpl[] = "/tmp/velmora-web-XXXXXX";
    if (!::mkdtemp(tmpl)) {
        why = "no temporary folder";
        return nullptr;
    }
    server->FDir = tmpl;
    // "@DIR@" stands for the server's folder, known only here.
    for (size_t p; (p = server->FExtraConfig.find("@DIR@")) != std::string::npos;) server->FExtraConfig.replace(p, 5, server->FDir);
    // The CGI user (www-data under apache) must reach the folder and write beside its program.
    ::chmod(tmpl, 0755);
    fs::create_directories(server->FDir + "/www");
    fs::create_directories(server->FDir + "/logs");
    fs::create_directories(server->CgiBin());
    ::chmod(server->CgiBin().c_str(), 0777);
    const std::string target = server->CgiBin() + "/" + fs::path(program).filename().string();
    std::error_code ec;
    fs::copy_file(program, target, fs::copy_options::overwrite_existing, ec);
    if (ec) {
        why = "cannot copy " + program + ": " + ec.message();
        return nullptr;
    }
    ::chmod(target.c_str(), 0755);
    // A port taken between probing and binding makes the server fail: try a few.
    for (int attempt = 0; attempt < 5; ++attempt)
        if (server->Launch(kind, why)) return server;
    return nullptr;
}

bool TWebServer::Launch(TServerKind kind, std::string& why) {
    FPort = FreeLoopbackPort();
    std::string conf;
    std::vector<std::string> args;
    if (kind == TServerKind::Lighttpd) {
        conf = FDir + "/lighttpd.conf";
        WriteText(conf, LighttpdConfig(FDir, FPort) + FExtraConfig);
        args = {"/usr/sbin/lighttpd", "-D", "-f", conf};
    } else if (kind == TServerKind::Apache) {
        conf = FDir + "/httpd.conf";
        WriteText(conf, ApacheConfig(FDir, FPort) + FExtraConfig);
        args = {"/usr/sbin/apache2", "-f", conf, "-DFOREGROUND"};
    } else {
        conf = FDir + "/nginx.conf";
        WriteText(conf, NginxConfig(FDir, FPort, FExtraConfig));
        args = {"/usr/sbin/nginx", "-p", FDir, "-e", FDir + "/error.log", "-c", conf, "-g", "daemon off;"};
    }
    if (!fs::exists(args[0])) {
        why = args[0] + " is not installed";
        return false;
    }
    // lighttpd run in the foreground hands its own standard error to its CGI programs: kept in a
    // file, so that what a program reports there (a sanitizer, say) can be read by the test.
    const std::string output = OutputLog();
    FPid = ::fork();
    if (FPid == 0) {
        ::setpgid(0, 0);
        int log = ::open(output.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
        if (log >= 0) {
            ::dup2(log, 1);
            ::dup2(log, 2);
        }
        std::vector<char*> argv;
        for (auto& a : args) argv.push_back(a.data());
        argv.push_back(nullptr);
        ::execv(argv[0], argv.data());
        ::_exit(127);
    }
    for (int i = 0; i < 200; ++i) {  // up to 10 s
        if (Accepts(FPort)) return true;
        int status = 0;
        if (::waitpid(FPid, &status, WNOHANG) == FPid) {
            FPid = -1;
            why = "server ended at start: " + ReadWholeFile(ErrorLog());
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    why = "server did not accept connections";
    Stop();
    return false;
}

void TWebServer::Stop() noexcept {
    if (FPid <= 0) return;
    ::kill(FPid, SIGTERM);
    for (int i = 0; i < 200; ++i) {
        int status = 0;
        if (::waitpid(FPid, &status, WNOHANG) == FPid) {
            FPid = -1;
            return;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(25));
    }
    ::kill(FPid, SIGKILL);
    ::waitpid(FPid, nullptr, 0);
    FPid = -1;
}

TWebServer::~TWebServer() {
    Stop();
    std::error_code ec;
    if (!FDir.empty()) fs::remove_all(FDir, ec);
}

std::string TWebServer::BaseUrl() const { return "http://127.0.0.1:" + std::to_string(FPort); }

std::string TWebServer::ErrorLog() const { return FDir + "/error.log"; }

std::string TWebServer::OutputLog() const { return FDir + "/server-output.log"; }

TBackground::TBackground(const std::vector<std::string>& args, const std::string& outputFile) {
    FPid = ::fork();
    if (FPid != 0) return;
    int in = ::open("/dev/null", O_RDONLY);
    int out = ::open(outputFile.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
    if (in >= 0) ::dup2(in, 0);
    if (out >= 0) {
        ::dup2(out, 1);
        ::dup2(out, 2);
    }
    std::vector<char*> argv;
    for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    ::execv(argv[0], argv.data());
    ::_exit(127);
}

TBackground::~TBackground() { Stop(); }

int TBackground::Wait(int timeoutMs) {
    if (FPid <= 0) return -1;
    int status = 0;
    for (int waited = 0; waited < timeoutMs; waited += 10) {
        if (::waitpid(FPid, &status, WNOHANG) == FPid) {
            FPid = -1;
            return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return -2;
}

int TBackground::Stop(int timeoutMs) {
    if (FPid <= 0) return -1;
    ::kill(FPid, SIGTERM);
    int code = Wait(timeoutMs);
    if (code != -2) return code;
    ::kill(FPid, SIGKILL);
    ::waitpid(FPid, nullptr, 0);
    FPid = -1;
    return -1;
}

bool WaitForListener(const std::string& address, int timeoutMs) {
    sockaddr_un a{};
    a.sun_family = AF_UNIX;
    if (address.size() >= sizeof a.sun_path) return false;
    std::memcpy(a.sun_path, address.c_str(), address.size() + 1);
    for (int waited = 0; waited < timeoutMs; waited += 20) {
        bool ok = false;
        if (address[0] == '/') {
            int s = ::socket(AF_UNIX, SOCK_STREAM, 0);
            ok = ::connect(s, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
            ::close(s);
        } else {
            ok = Accepts(std::atoi(address.substr(address.rfind(':') + 1).c_str()));
        }
        if (ok) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return false;
}

std::string ReadWholeFile(const std::string& path) {
    std::ifstream f(path, std::ios::binary);
    std::ostringstream s;
    s << f.rdbuf();
    return s.str();
}

std::string Curl(const std::vector<std::string>& args) {
    TChildRun run;
    run.Args = {"/usr/bin/curl", "--silent", "--show-error", "--include", "--noproxy", "*", "--max-time", "30"};
    run.Args.insert(run.Args.end(), args.begin(), args.end());
    run.Env = InheritedEnvironment();
    run.TimeoutMs = 40000;
    return RunChild(run).Out;
}

}  // namespace velmora::test
