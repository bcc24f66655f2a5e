// velmora as a FastCGI server behind real web servers (nginx on a Unix socket, lighttpd spawning
// it, Apache's mod_proxy_fcgi on a loopback port), mailing through the real relay; and its end on
// SIGTERM with a request still in flight.
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/un.h>

#include <atomic>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <thread>

#include "FastCgiRecords.h"
#include "SettingsFile.h"
#include "TempDir.h"
#include "VelmoraSite.h"

using namespace velmora;
using namespace velmora::test;

namespace {


class FastCgiServers : public ::testing::Test {
protected:
    void Start(TServerKind kind) {
        FastCgiSetup setup{kind, 8};
        site = std::make_unique<VelmoraSite>(VELMORA_PROGRAM, std::vector<std::string>{}, std::vector<std::string>{}, "",
                                             nullptr, &setup);
        site->WriteStandardSettings("nj");
    }
    void TearDown() override {
        if (!site) return;
        std::string errors = site->ServerErrors();
        EXPECT_EQ(errors.find("Sanitizer"), std::string::npos) << errors;
    }
    int32_t Counter() const { return ReadSettingsFile(site->CgiFile("VELMORA.INI"))->Counter(); }

    // A url-encoded and a multipart post with an upload are mailed and thanked, a redirect is
    // answered with its page, a refused recipient with the refusal page, a form above the limit
    // with status 413; the three mails arrive with the posted fields.
    void ExpectFormsServed() {
        HttpAnswer a = site->Post("Name=Ann+Lee&Text=hello%21");
        EXPECT_EQ(a.Status, 200) << a.Headers << a.Body << site->ServerErrors();
        EXPECT_NE(a.Body.find(ThankYou), std::string::npos) << a.Body;
        EXPECT_NE(a.Headers.find("text/html"), std::string::npos) << a.Headers;
        EXPECT_EQ(a.Body.find("content-type"), std::string::npos) << a.Body;

        const std::string upload = site->Dir() + "/note.txt";
        WriteWholeFile(upload, "uploaded text\r\n");
        HttpAnswer m = site->PostMultipart({"Name=Bo", "att=@" + upload});
        EXPECT_NE(m.Body.find(ThankYou), std::string::npos) << m.Headers << m.Body;

        HttpAnswer r = site->Post("Text=r&htmlurl=http%3A%2F%2Fexample.org%2Fnext");
        EXPECT_NE(r.Body.find("URL=http://example.org/next\""), std::string::npos) << r.Body;

        HttpAnswer refused = site->Post("mailto=stranger%40example.net&Text=x");
        EXPECT_NE(refused.Body.find("Destination EMail-Adress not allowed."), std::string::npos) << refused.Body;

        HttpAnswer large = site->Post("Text=" + std::string(20000, 'x'));
        EXPECT_EQ(large.Status, 413) << large.Headers << large.Body;

        auto mails = site->Mails(3);
        ASSERT_EQ(mails.size(), 3u) << site->Log() << site->ServerErrors();
        EXPECT_NE(mails[0].Body().find("Name:Ann Lee\r\nText:hello!\r\n"), std::string::npos) << mails[0].Body();
        EXPECT_NE(mails[1].Body().find("Name:Bo\r\n"), std::string::npos) << mails[1].Body();
        EXPECT_NE(mails[1].Body().find("att:note.txt"), std::string::npos) << mails[1].Body();
        EXPECT_EQ(Counter(), 4);  // the refused recipient counts, the form above the limit does not
    }

    std::unique_ptr<VelmoraSite> site;
};

}  // namespace

TEST_F(FastCgiServers, NginxServesFormsAndFiftyConcurrentPostsOnTheSocket) {
    Start(TServerKind::Nginx);
    ExpectFormsServed();
    EXPECT_EQ(site->PostAtOnce(50), 50);
    EXPECT_EQ(Counter(), 54);
    EXPECT_EQ(site->Mails(53, 60000).size(), 53u);
    EXPECT_EQ(site->StopFastCgiServer(), 0);
    EXPECT_FALSE(std::filesystem::exists(site->Dir() + "/fcgi.sock"));
}

TEST_F(FastCgiServers, LighttpdSpawnsVelmoraAndServesForms) {
    Start(TServerKind::Lighttpd);
    ExpectFormsServed();
}

TEST_F(FastCgiServers, ApacheProxiesFormsToVelmoraOnALoopbackPort) {
    Start(TServerKind::Apache);
    ExpectFormsServed();
    EXPECT_EQ(site->StopFastCgiServer(), 0);
}

// SIGTERM while a request waits for the rest of its body: the request is still answered, no new
// connection is taken, and the process ends by itself with 0.
TEST(FastCgiServer, EndsAfterTheRequestInFlightOnSigterm) {
    TempDir dir;
    const std::string program = dir / "velmora";
    std::filesystem::copy_file(VELMORA_PROGRAM, program);
    TMailSettings s;
    s.Set(TMailField::mailto, "webmaster@example.org");
    WriteSettingsFile(dir / "VELMORA.INI", s);
    const std::string socketPath = dir / "v.sock";
    TBackground server({program, "--fastcgi", socketPath}, dir / "output.log");
    ASSERT_TRUE(WaitForListener(socketPath)) << ReadWholeFile(dir / "output.log");

    int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un a{};
    a.sun_family = AF_UNIX;
    std::memcpy(a.sun_path, socketPath.c_str(), socketPath.size() + 1);
    ASSERT_EQ(::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
    timeval tv{10, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
    const std::string body = "mailto=stranger%40example.net";
    std::string request = FcgiRequest({{"REQUEST_METHOD", "POST"}, {"CONTENT_LENGTH", std::to_string(body.size())},
                                       {"CONTENT_TYPE", "application/x-www-form-urlencoded"}, {"SERVER_SOFTWARE", "nginx"}},
                                      body);
    const size_t half = request.size() - 8 - body.size() - 8 + 10;  // up to 10 bytes of the body
    ASSERT_EQ(::write(fd, request.data(), half), static_cast<ssize_t>(half));
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    ::kill(server.Pid(), SIGTERM);
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    EXPECT_FALSE(WaitForListener(socketPath, 200));  // no longer taking connections
    ASSERT_EQ(::write(fd, request.data() + half, request.size() - half), static_cast<ssize_t>(request.size() - half));
    std::string answer;
    char buf[8192];
    for (ssize_t n; (n = ::read(fd, buf, sizeof buf)) > 0;) answer.append(buf, static_cast<size_t>(n));
    ::close(fd);
    FcgiAnswer parsed = ParseFcgiAnswer(answer);
    EXPECT_EQ(parsed.Ends, 1);
    EXPECT_NE(parsed.Out.find("Destination EMail-Adress not allowed."), std::string::npos) << parsed.Out;
    EXPECT_EQ(server.Wait(10000), 0);
    EXPECT_EQ(ReadWholeFile(dir / "output.log").find("Sanitizer"), std::string::npos) << ReadWholeFile(dir / "output.log");
}
