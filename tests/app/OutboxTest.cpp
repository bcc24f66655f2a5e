// velmora's outbox under lighttpd: posts made while the relay is down are answered as usual and
// kept; later posts and velmora-ini's flush deliver each exactly once, also when killed midway.
#include <gtest/gtest.h>

#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <ctime>
#include <filesystem>
#include <future>
#include <map>

#include "ChildProcess.h"
#include "ScriptedRelay.h"
#include "SettingsFile.h"
#include "SiteSettings.h"
#include "VelmoraSite.h"

using namespace velmora;
using namespace velmora::test;
namespace fs = std::filesystem;

namespace {

class Outbox : public ::testing::Test {
protected:
    void SetUp() override {
        site = std::make_unique<VelmoraSite>(VELMORA_PROGRAM, std::vector<std::string>{});
        relayPort = UnusedPort();
        UseRelayPort(relayPort);
        WriteWholeFile(site->CgiFile("VELMORA.ALL"), "webmaster@example.org\r\n");
        // Time enough for a post to deliver all the kept mail of a test, however busy the machine.
        WriteWholeFile(site->CgiFile("VELMORA.CONF"), "outbox = yes\noutbox_request_ms = 20000\n");
    }
    void TearDown() override {
        std::string errors = site->ServerErrors();
        EXPECT_EQ(errors.find("Sanitizer"), std::string::npos) << errors;
    }
    void UseRelayPort(int port) {
        TMailSettings s = test::SiteMailSettings(port);
        s.Set(TMailField::Options, "nn");
        WriteSettingsFile(site->CgiFile("VELMORA.INI"), s);
    }
    std::string Box() const { return site->CgiFile("Outbox"); }
    // The kept messages: file name to contents.
    std::map<std::string, std::string> Kept() const {
        std::map<std::string, std::string> files;
        if (!fs::exists(Box())) return files;
        for (const auto& f : fs::directory_iterator(Box()))
            if (f.path().extension() == ".mail") files[f.path().filename()] = ReadWholeFile(f.path());
        return files;
    }
    // Posts n=first..first+count-1, each answered with the thank-you page.
    void PostNumbered(int first, int count) {
        for (int n = first; n < first + count; ++n) {
            HttpAnswer a = site->Post("n=" + std::to_string(n));
            ASSERT_NE(a.Body.find(ThankYou), std::string::npos) << n << ": " << a.Body << site->Log();
        }
    }
    // How often each number arrived at the relay.
    static std::map<int, int> Arrived(const SmtpSink& relay) { return NumbersArrived(relay); }
    TChildResult Ini(const std::string& action, const std::vector<std::string>& more = {}) const {
        TChildRun run;
        run.Args = {VELMORA_INI, "outbox", action, site->CgiFile("")};
        run.Args.insert(run.Args.end(), more.begin(), more.end());
        return RunChild(run);
    }

    std::unique_ptr<VelmoraSite> site;
    int relayPort = 0;
};

void ExpectEachOnce(const std::map<int, int>& seen, int count) {
    EXPECT_EQ(seen.size(), static_cast<size_t>(count));
    for (const auto& [n, times] : seen) EXPECT_EQ(times, 1) << "message " << n;
}

}  // namespace

TEST_F(Outbox, PostsWhileTheRelayIsDownAreKeptAndTheNextPostDeliversThemOnce) {
    auto start = std::chrono::steady_clock::now();
    PostNumbered(1, 20);
    // A refused connection is kept at once, not after the 20-second connect wait.
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(15));
    auto kept = Kept();
    ASSERT_EQ(kept.size(), 20u);
    EXPECT_EQ(fs::status(Box() + "/" + kept.begin()->first).permissions() & fs::perms::all, fs::perms::owner_read | fs::perms::owner_write);
    EXPECT_NE(site->Log().find("kept in the outbox"), std::string::npos);


    SmtpSink relay({"--port", std::to_string(relayPort)});
    PostNumbered(21, 1);
    ExpectEachOnce(Arrived(relay), 21);
    EXPECT_TRUE(Kept().empty());
}

TEST_F(Outbox, ConcurrentPostsDeliverTheKeptMailEachOnce) {
    PostNumbered(1, 20);
    ASSERT_EQ(Kept().size(), 20u);
    SmtpSink relay({"--port", std::to_string(relayPort)});
    std::vector<std::future<HttpAnswer>> posts;
    for (int n = 21; n <= 30; ++n)
        posts.push_back(std::async(std::launch::async, [this, n] { return site->Post("n=" + std::to_string(n)); }));
    for (auto& p : posts) EXPECT_NE(p.get().Body.find(ThankYou), std::string::npos);
    ExpectEachOnce(Arrived(relay), 30);
    EXPECT_TRUE(Kept().empty());
}

TEST_F(Outbox, AFlushKilledMidwayLosesNothing) {
    PostNumbered(1, 20);
    // The flush command with the relay still down changes nothing: a refused connection costs
    // nothing to try again, so not even a retry time moves.
    auto kept = Kept();
    TChildResult r = Ini("flush");
    EXPECT_EQ(r.ExitCode, 0) << r.Err;
    EXPECT_NE(r.Out.find("no connection"), std::string::npos) << r.Out;
    EXPECT_EQ(Kept(), kept);

    SmtpSink relay({"--port", std::to_string(relayPort)});
    std::string program = VELMORA_INI, dir = site->CgiFile("");
    char* argv[] = {program.data(), const_cast<char*>("outbox"), const_cast<char*>("flush"), dir.data(), nullptr};
    pid_t pid = 0;
    ASSERT_EQ(posix_spawn(&pid, argv[0], nullptr, nullptr, argv, environ), 0);
    auto until = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (relay.MessageCount() < 3 && std::chrono::steady_clock::now() < until)
        std::this_thread::sleep_for(std::chrono::microseconds(200));
    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
    int delivered = relay.MessageCount();
    EXPECT_LT(delivered, 20) << "the flush ended before it was killed";
    r = Ini("flush");
    EXPECT_EQ(r.ExitCode, 0) << r.Err;
    auto seen = Arrived(relay);
    EXPECT_EQ(seen.size(), 20u);
    int duplicates = 0;
    for (const auto& [n, times] : seen) duplicates += times - 1;
    EXPECT_LE(duplicates, 1) << "only the message in flight may arrive twice";
    EXPECT_TRUE(Kept().empty());
}

TEST_F(Outbox, TemporaryRefusalsAreKeptPermanentOnesAndAnUnwritableOutboxGiveTheErrorPage) {
    ScriptedRelay scripted({
        [](RelayConnection& c) {  // the first post: "try again later" to the recipient
            c.Send("220 relay.test ready\r\n");
            c.Answer("250 relay.test\r\n");
            c.Answer("250 sender ok\r\n");
            c.Answer("451 4.3.0 try again later\r\n");
        },
        [](RelayConnection& c) {  // the second post delivers the kept one: still busy
            c.Send("220 relay.test ready\r\n");
            c.Answer("250 relay.test\r\n");
            c.Answer("452 4.3.1 busy\r\n");
        },
        [](RelayConnection& c) {  // its own mail is refused for good
            c.Send("220 relay.test ready\r\n");
            c.Answer("250 relay.test\r\n");
            c.Answer("250 sender ok\r\n");
            c.Answer("250 recipient ok\r\n");
            c.Answer("354 go ahead\r\n");
            c.AnswerData("554 5.7.1 rejected as spam\r\n");
        },
    });
    UseRelayPort(scripted.Port());
    EXPECT_NE(site->Post("n=1").Body.find(ThankYou), std::string::npos) << site->Log();
    HttpAnswer refused = site->Post("n=2");
    EXPECT_NE(refused.Body.find("unable to deliver mail : 554 5.7.1 rejected as spam"), std::string::npos) << refused.Body;
    auto kept = Kept();
    ASSERT_EQ(kept.size(), 1u);
    EXPECT_NE(kept.begin()->first.find(".1."), std::string::npos) << "one failed retry: " << kept.begin()->first;
    EXPECT_NE(kept.begin()->second.find("n:1"), std::string::npos);

    // A mail that cannot be kept, in a full outbox or a folder that cannot be written, is never
    // answered as received.
    UseRelayPort(relayPort);
    for (std::string conf : {"outbox_max_mails = 1\n", "outbox_folder = VELMORA.ALL/box\n"}) {
        WriteWholeFile(site->CgiFile("VELMORA.CONF"), "outbox = yes\n" + conf);
        HttpAnswer lost = site->Post("n=3");
        EXPECT_NE(lost.Body.find("unable to deliver mail : Connection refused"), std::string::npos) << conf << lost.Body;
    }
    EXPECT_EQ(Kept().size(), 1u);
    EXPECT_NE(site->Log().find("(outbox_max_mails)"), std::string::npos) << site->Log();

    // A message older than the give-up age is moved aside, never deleted.
    std::string name = Kept().begin()->first, old = "0000000001" + name.substr(name.find('-'));
    fs::rename(Box() + "/" + name, Box() + "/" + old);
    WriteWholeFile(site->CgiFile("VELMORA.CONF"), "outbox = yes\n");
    TChildResult r = Ini("flush");
    EXPECT_NE(r.Out.find("moved to"), std::string::npos) << r.Out;
    EXPECT_EQ(ReadWholeFile(Box() + "/undeliverable/" + old), kept.begin()->second);
}

// Whoever can write the outbox folder (any process of the web server's user) can plant a FIFO or
// a link under a kept mail's name, or make undeliverable/ a link out of the folder. A FIFO must
// hold no post and no flush; nothing the outbox moves aside may leave the folder.
TEST_F(Outbox, PlantedFifosAndLinksHoldNothingUpAndMoveNothingOutside) {
    PostNumbered(1, 1);
    const std::string now = std::to_string(std::time(nullptr));
    const std::string fifo = now + "-fifo.0.0.mail", link = now + "-link.0.0.mail";
    ASSERT_EQ(::mkfifo((Box() + "/" + fifo).c_str(), 0600), 0);
    fs::create_symlink(site->CgiFile("VELMORA.INI"), Box() + "/" + link);

    SmtpSink relay({"--port", std::to_string(relayPort)});
    PostNumbered(2, 1);
    ExpectEachOnce(Arrived(relay), 2);
    for (const std::string& name : {fifo, link}) {
        EXPECT_TRUE(fs::is_symlink(Box() + "/undeliverable/" + name) || fs::is_fifo(Box() + "/undeliverable/" + name)) << name;
        EXPECT_FALSE(fs::exists(fs::symlink_status(Box() + "/" + name))) << name;
    }
    EXPECT_NE(site->Log().find("not a regular file"), std::string::npos) << site->Log();

    const std::string outside = site->Dir() + "/outside", bad = now + "-bad.0.0.mail";
    fs::create_directories(outside);
    fs::remove_all(Box() + "/undeliverable");
    fs::create_directory_symlink(outside, Box() + "/undeliverable");
    WriteWholeFile(Box() + "/" + bad, "not a message");
    TChildResult r = Ini("flush");
    EXPECT_EQ(r.ExitCode, 0) << r.Err;
    EXPECT_NE(r.Out.find("cannot be moved"), std::string::npos) << r.Out;
    EXPECT_TRUE(fs::is_empty(outside));
    EXPECT_EQ(ReadWholeFile(Box() + "/" + bad), "not a message");
}

// A relay that takes a kept message's data and answers too late for a post, or never: a post
// never starts that message again, and the flush tries it at most twice more before moving it
// aside. The relay gets a few copies at worst, never one per retry.
TEST_F(Outbox, DataLeftUnansweredIsSentAFewTimesAtMost) {
    PostNumbered(1, 1);
    auto takeDataSilently = [](RelayConnection& c) {
        AnswerUntilData(c);
        c.ReadUntil("\r\n.\r\n");
        c.Close();
    };
    ScriptedRelay scripted({
        [](RelayConnection& c) {  // the post's try of the kept one: later than the post can wait
            AnswerUntilData(c);
            c.ReadUntil("\r\n.\r\n");
            c.WaitClosed(10000);
        },
        [](RelayConnection& c) { NormalDialogue(c); },  // that post's own mail
        [](RelayConnection& c) { NormalDialogue(c); },  // the next post's own mail, the kept one left alone
        takeDataSilently,                                // two tries of the flush
        takeDataSilently,
    });
    UseRelayPort(scripted.Port());
    PostNumbered(2, 1);
    auto kept = Kept();
    ASSERT_EQ(kept.size(), 1u);
    const std::string name = kept.begin()->first, id = name.substr(0, name.find('.'));
    EXPECT_NE(name.find(".1-1."), std::string::npos) << name;
    fs::rename(Box() + "/" + name, Box() + "/" + id + ".1-1.0.mail");  // its retry time has come
    PostNumbered(3, 1);
    EXPECT_EQ(Kept().size(), 1u);

    for (int flush = 0; flush < 3; ++flush) {
        TChildResult r = Ini("flush", {"--now"});
        EXPECT_EQ(r.ExitCode, 0) << r.Err;
    }
    EXPECT_TRUE(Kept().empty());
    std::vector<fs::path> aside(fs::directory_iterator(Box() + "/undeliverable"), fs::directory_iterator());
    ASSERT_EQ(aside.size(), 1u);
    EXPECT_EQ(ReadWholeFile(aside[0]), kept.begin()->second);
    ASSERT_EQ(scripted.Connections(), 5u);
    int copies = 0;
    for (size_t i = 0; i < 5; ++i) copies += scripted.Transcript(i).find("\r\nn:1") != std::string::npos;
    EXPECT_EQ(copies, 3);
    EXPECT_NE(scripted.Transcript(2).find("\r\nn:3"), std::string::npos);
}
