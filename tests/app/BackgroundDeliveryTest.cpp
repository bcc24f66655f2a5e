// delivery = background end to end: posts are thanked at once and their mail kept; a FastCGI
// server's sender thread, or a later CGI post, delivers each exactly once, also across a restart.
#include <gtest/gtest.h>

#include <filesystem>
#include <future>
#include <map>
#include <thread>

#include "ChildProcess.h"
#include "ScriptedRelay.h"
#include "SettingsFile.h"
#include "SiteSettings.h"
#include "VelmoraSite.h"

using namespace velmora;
using namespace velmora::test;
namespace fs = std::filesystem;

namespace {

class BackgroundDelivery : public ::testing::Test {
protected:
    // fastcgi: velmora as a FastCGI server behind nginx; else a CGI program of lighttpd. The
    // relay's port starts out with nobody listening.
    void Start(bool fastcgi, int port = 0) {
        FastCgiSetup setup{TServerKind::Nginx, 4};
        site = std::make_unique<VelmoraSite>(VELMORA_PROGRAM, std::vector<std::string>{}, std::vector<std::string>{}, "",
                                             nullptr, fastcgi ? &setup : nullptr);
        relayPort = port ? port : UnusedPort();
        TMailSettings s = test::SiteMailSettings(relayPort);
        s.Set(TMailField::Options, "nn");
        WriteSettingsFile(site->CgiFile("VELMORA.INI"), s);
        WriteWholeFile(site->CgiFile("VELMORA.ALL"), "webmaster@example.org\r\n");
        WriteWholeFile(site->CgiFile("VELMORA.CONF"), "delivery = background\noutbox_request_ms = 20000\n");
    }
    void TearDown() override {
        std::string errors = site ? site->ServerErrors() : "";
        EXPECT_EQ(errors.find("Sanitizer"), std::string::npos) << errors;
    }
    size_t Kept() const {
        size_t n = 0;
        if (fs::exists(site->CgiFile("Outbox")))
            for (const auto& f : fs::directory_iterator(site->CgiFile("Outbox"))) n += f.path().extension() == ".mail";
        return n;
    }
    // Posts n=first..first+count-1, all at once when together, each to be thanked.
    void Post(int first, int count, bool together = false) {
        std::vector<std::future<HttpAnswer>> posts;
        for (int n = first; n < first + count; ++n) {
            auto post = [this, n] { return site->Post("n=" + std::to_string(n)); };
            posts.push_back(std::async(together ? std::launch::async : std::launch::deferred, post));
            if (!together) posts.back().wait();
        }
        for (auto& p : posts) {
            HttpAnswer a = p.get();
            ASSERT_NE(a.Body.find(ThankYou), std::string::npos) << a.Body << site->Log();
        }
    }
    // Waits up to 40 s (the sender's pauses while the relay is away grow) until count mails have
    // arrived; then how often each number arrived.
    static std::map<int, int> Arrived(const SmtpSink& relay, int count) {
        auto end = std::chrono::steady_clock::now() + std::chrono::seconds(40);
        while (relay.MessageCount() < count && std::chrono::steady_clock::now() < end)
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        std::this_thread::sleep_for(std::chrono::milliseconds(300));  // a copy too many would show now
        return NumbersArrived(relay);
    }
    void ExpectEachOnce(const std::map<int, int>& seen, int count) {
        EXPECT_EQ(seen.size(), static_cast<size_t>(count)) << site->Log();
        for (const auto& [n, times] : seen) EXPECT_EQ(times, 1) << "message " << n;
    }

    std::unique_ptr<VelmoraSite> site;
    int relayPort = 0;
};

}  // namespace

// While the relay is away every post is thanked and kept; once it is back the sender thread
// delivers them without another post (FastCGI), or the next post does (a CGI start).
TEST_F(BackgroundDelivery, MailKeptWhileTheRelayIsAwayIsDeliveredOnceItIsBack) {
    for (bool fastcgi : {true, false}) {
        SCOPED_TRACE(fastcgi ? "FastCGI" : "CGI");
        Start(fastcgi);
        Post(1, 10);
        EXPECT_GT(Kept(), 0u);
        SmtpSink relay({"--port", std::to_string(relayPort)});
        if (!fastcgi) Post(11, 1);
        ExpectEachOnce(Arrived(relay, fastcgi ? 10 : 11), fastcgi ? 10 : 11);
        EXPECT_EQ(Kept(), 0u);
        site.reset();
    }
}

TEST_F(BackgroundDelivery, ConcurrentPostsThroughNginxArriveExactlyOnceEach) {
    Start(true);
    SmtpSink relay({"--port", std::to_string(relayPort)});
    Post(1, 200, true);
    ExpectEachOnce(Arrived(relay, 200), 200);
    EXPECT_EQ(Kept(), 0u);
}

// A relay that takes the data and then hangs up unanswered may hold the mail or not: the sender
// thread tries it again itself (at most three such tries), not only the flush command.
TEST_F(BackgroundDelivery, MailWhoseDataWentUnansweredIsTriedAgainByTheSenderThread) {
    auto upToData = [](RelayConnection& c) {
        c.Send("220 relay.test ESMTP\r\n");
        for (const char* reply : {"250 relay.test\r\n", "250 ok\r\n", "250 ok\r\n", "354 go on\r\n"}) c.Answer(reply);
    };
    ScriptedRelay relay({[&](RelayConnection& c) {
                             upToData(c);
                             c.ReadUntil("\r\n.\r\n");
                             c.Close();
                             // The next try comes after the first retry pause (a minute), later
                             // than the relay's wait for a connection after a script.
                             std::this_thread::sleep_for(std::chrono::seconds(45));
                         },
                         [&](RelayConnection& c) {
                             upToData(c);
                             c.AnswerData("250 queued\r\n");
                         }});
    Start(true, relay.Port());
    Post(1, 1);
    EXPECT_NE(relay.Transcript(1).find("\r\nn:"), std::string::npos) << site->Log();
}

// SIGTERM ends the server cleanly with the mail still kept; the next start's sender delivers it.
TEST_F(BackgroundDelivery, MailKeptAtSigtermIsDeliveredAfterTheNextStart) {
    Start(true);
    Post(1, 10);
    EXPECT_EQ(site->StopFastCgiServer(), 0);
    EXPECT_EQ(Kept(), 10u);
    SmtpSink relay({"--port", std::to_string(relayPort)});
    site->RestartFastCgiServer();
    Post(11, 1);
    ExpectEachOnce(Arrived(relay, 11), 11);
    EXPECT_EQ(Kept(), 0u);
}
