// velmora started by a service manager's socket (systemd-socket-activate sets LISTEN_PID and
// LISTEN_FDS as systemd does): it serves the site folder --site names, and refuses a hand-over or
// an option it cannot use with exit code 1 and the reason, never serving from the wrong folder.
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>

#include "FastCgiRecords.h"
#include "SettingsFile.h"
#include "TempDir.h"
#include "WebServer.h"

using namespace velmora;
using namespace velmora::test;

namespace {

// One post over the Unix socket; the answer's standard output.
std::string PostOver(const std::string& socketPath, const std::string& body) {
    int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un a{};
    a.sun_family = AF_UNIX;
    std::memcpy(a.sun_path, socketPath.c_str(), socketPath.size() + 1);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
        ::close(fd);
        return "no connection";
    }
    timeval tv{10, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
    std::string request = FcgiRequest({{"REQUEST_METHOD", "POST"}, {"CONTENT_LENGTH", std::to_string(body.size())},
                                       {"CONTENT_TYPE", "application/x-www-form-urlencoded"}, {"SERVER_SOFTWARE", "nginx"}},
                                      body);
    std::string answer;
    if (::write(fd, request.data(), request.size()) == static_cast<ssize_t>(request.size())) {
        char buf[8192];
        for (ssize_t n; (n = ::read(fd, buf, sizeof buf)) > 0;) answer.append(buf, static_cast<size_t>(n));
    }
    ::close(fd);
    return ParseFcgiAnswer(answer).Out;
}

TEST(FastCgiActivation, ServesTheSiteFolderOrRefusesWhatItCannotUse) {
    struct Case {
        const char* name;
        std::vector<std::string> listen;   // the activator's -l addresses; "@" is the test's socket
        std::vector<std::string> options;  // velmora's; "@SITE@" is the site folder
        const char* refusal;               // nullptr: serves the site
    } cases[] = {
        {"site folder", {"@"}, {"--site=@SITE@"}, nullptr},
        {"site folder through a link", {"@"}, {"--site=@SITE@-link"}, nullptr},
        {"relative site folder", {"@"}, {"--site=site"}, "--site needs the absolute path"},
        {"missing site folder", {"@"}, {"--site=@SITE@/none"}, "is not a folder"},
        {"a socket of its own besides", {"@"}, {"--fastcgi=@SITE@/other.sock"}, "handed over a socket too"},
        {"two sockets", {"@", "127.0.0.1:" + std::to_string(FreeLoopbackPort())}, {"--site=@SITE@"},
         "handed over 2 sockets"},
    };
    for (const Case& c : cases) {
        TempDir dir;
        const std::string site = dir / "site", socketPath = dir / "v.sock";
        std::filesystem::create_directory(site);
        std::filesystem::create_directory_symlink(site, site + "-link");
        std::filesystem::copy_file(VELMORA_PROGRAM, dir / "velmora");
        TMailSettings s;
        s.Set(TMailField::mailto, "webmaster@example.org");
        WriteSettingsFile(site + "/VELMORA.INI", s);
        std::vector<std::string> args = {"/usr/bin/systemd-socket-activate"};
        for (const std::string& l : c.listen) args.insert(args.end(), {"-l", l == "@" ? socketPath : l});
        args.push_back(dir / "velmora");
        for (std::string o : c.options) {
            if (size_t p = o.find("@SITE@"); p != std::string::npos) o.replace(p, 6, site);
            args.push_back(o);
        }
        TBackground server(args, dir / "output.log");
        ASSERT_TRUE(WaitForListener(socketPath)) << c.name << ReadWholeFile(dir / "output.log");
        const std::string out = PostOver(socketPath, "mailto=stranger%40example.net");
        if (c.refusal) {
            EXPECT_EQ(server.Wait(10000), 1) << c.name;
            EXPECT_NE(ReadWholeFile(dir / "output.log").find(c.refusal), std::string::npos)
                << c.name << ReadWholeFile(dir / "output.log");
            EXPECT_EQ(ReadSettingsFile(site + "/VELMORA.INI")->Counter(), 0) << c.name;
            continue;
        }
        // The site's allowed list is missing: the stranger is refused, and the site counts it.
        EXPECT_NE(out.find("Destination EMail-Adress not allowed."), std::string::npos) << c.name << out;
        EXPECT_EQ(ReadSettingsFile(site + "/VELMORA.INI")->Counter(), 1) << c.name;
        EXPECT_FALSE(std::filesystem::exists(dir / "VELMORA.INI")) << c.name;
        EXPECT_EQ(server.Stop(), 0) << c.name << ReadWholeFile(dir / "output.log");
        EXPECT_EQ(ReadWholeFile(dir / "output.log").find("Sanitizer"), std::string::npos) << ReadWholeFile(dir / "output.log");
    }
}

}  // namespace
