// velmora's resident modes behind a real lighttpd: a server started by hand (ServerMode) and one
// launched by the first CGI start (ServerThreadMode), with concurrent posts, stopping, a killed
// server, and a profile-file record offered to a standard server. Each test has its own TMPDIR,
// given to the CGI programs by lighttpd, so no other test's program sees these servers' titles.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <functional>
#include <future>
#include <thread>

#include "AltchaPeer.h"
#include "ChildProcess.h"
#include "ScriptedRelay.h"
#include "CgiExchange.h"
#include "SettingsFile.h"
#include "SiteSettings.h"
#include "VelmoraSite.h"

using namespace velmora;
using namespace velmora::test;
namespace fs = std::filesystem;

namespace {

bool WaitUntil(const std::function<bool()>& cond, int ms) {
    for (auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
         std::chrono::steady_clock::now() < end; std::this_thread::sleep_for(std::chrono::milliseconds(20)))
        if (cond()) return true;
    return cond();
}

// Our child still runs (reaped children and zombies do not).
bool Alive(pid_t pid) { return ::waitpid(pid, nullptr, WNOHANG) == 0; }

// A relay that takes connections and never says a word: a request mailing through it is slow.
struct SilentRelay {
    SilentRelay() {
        Fd = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t len = sizeof a;
        ::bind(Fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
        ::listen(Fd, 16);
        ::getsockname(Fd, reinterpret_cast<sockaddr*>(&a), &len);
        Port = ntohs(a.sin_port);
    }
    ~SilentRelay() { ::close(Fd); }
    int Fd, Port;
};

class ResidentServer : public ::testing::Test {
protected:
    void Open(const std::string& program, const std::string& webConfig = "") {
        Tmp = fs::temp_directory_path() / ("velmora-resident-" + std::to_string(::getpid()) + "-" + std::to_string(++serial));
        fs::create_directories(Tmp);
        site = std::make_unique<VelmoraSite>(program, std::vector<std::string>{}, std::vector<std::string>{},
                                             "server.modules += ( \"mod_setenv\" )\n"
                                             "setenv.add-environment = ( \"TMPDIR\" => \"" + Tmp + "\" )\n" + webConfig);
        Program = site->CgiFile(fs::path(program).filename());
        TMailSettings s = test::SiteMailSettings(site->SmtpPort());
        WriteSettingsFile(site->CgiFile("VELMORA.INI"), s);
        WriteWholeFile(site->CgiFile("thanks.htm"), "<p>Thanks, %Name%.</p>");
        // Some posts name their own (silent) relay.
        WriteWholeFile(site->CgiFile("VELMORA.CONF"), "form_relay = allow\r\n");
        // The CGI programs must see the private TMPDIR, or their titles would meet other tests'.
        WriteWholeFile(site->CgiFile("tmpdir"), "#!/bin/sh\nprintf 'Content-Type: text/plain\\r\\n\\r\\n%s' \"$TMPDIR\"\n");
        fs::permissions(site->CgiFile("tmpdir"), fs::perms::owner_all | fs::perms::group_read | fs::perms::others_read |
                                                     fs::perms::group_exec | fs::perms::others_exec);
        ASSERT_EQ(site->Curl({}, site->Url("/cgi-bin/tmpdir")).Body, Tmp);
    }
    void TearDown() override {
        // Whatever a test left running is stopped by its pid, and must be gone.
        if (Server > 0) {
            ::kill(Server, SIGKILL);
            ::waitpid(Server, nullptr, 0);
        }
        if (!Program.empty()) {
            for (pid_t pid : ProcessesOf(Program)) ::kill(pid, SIGKILL);
            EXPECT_TRUE(WaitUntil([&] { return ProcessesOf(Program).empty(); }, 3000));
        }
        if (site) {
            std::string errors = site->ServerErrors();
            EXPECT_EQ(errors.find("Sanitizer"), std::string::npos) << errors;
        }
        site.reset();
        std::error_code ec;
        fs::remove_all(Tmp, ec);
    }

    std::string QueueFile() const {
        return (fs::path(Program).parent_path() / "Temp" / (fs::path(Program).filename().string() + "_S")).string();
    }
    // The request and answer files in the program's exchange folder.
    std::vector<fs::path> ExchangeFiles() const {
        std::vector<fs::path> files;
        for (const auto& e : fs::directory_iterator(fs::path(Program).parent_path() / "Temp"))
            if (e.path().string().ends_with("_REQ") || e.path().string().ends_with("_OUT")) files.push_back(e.path());
        return files;
    }
    std::string TitleFile() const {
        return Tmp + "/velmora-windows-" + std::to_string(::getuid()) + "/" + fs::path(Program).filename().string() + "_S";
    }
    // The server's window title is published while its owner holds the title file's lock.
    bool TitleHeld() const {
        int fd = ::open(TitleFile().c_str(), O_RDONLY);
        if (fd < 0) return false;
        bool held = ::flock(fd, LOCK_EX | LOCK_NB) != 0;
        ::close(fd);
        return held;
    }

    // The program started by hand: no server software, no parameter.
    void StartByHand() {
        Server = ::fork();
        if (Server == 0) {
            int null = ::open("/dev/null", O_RDWR);
            ::dup2(null, 0), ::dup2(null, 1), ::dup2(null, 2);
            std::string tmp = "TMPDIR=" + Tmp;
            char* env[] = {tmp.data(), const_cast<char*>("PATH=/usr/bin:/bin"), nullptr};
            ::execle(Program.c_str(), Program.c_str(), static_cast<char*>(nullptr), env);
            ::_exit(127);
        }
        ASSERT_TRUE(WaitUntil([&] { return TitleHeld() && fs::exists(QueueFile()); }, 5000));
    }

    // Posts n forms at once from 8 clients; each answer must be the page of its own form.
    void PostConcurrently(int n, const std::string& extra = "") {
        std::vector<std::future<HttpAnswer>> answers;
        for (int i = 0; i < n; ++i)
            answers.push_back(std::async(std::launch::async, [this, i, extra] {
                return site->Post("Name=Client" + std::to_string(i) + "&htmlfile=thanks.htm" + extra);
            }));
        for (int i = 0; i < n; ++i) {
            HttpAnswer a = answers[static_cast<size_t>(i)].get();
            EXPECT_EQ(a.Status, 200);
            EXPECT_EQ(a.Body, "<p>Thanks, Client" + std::to_string(i) + ".</p>");
        }
    }
    // A profile start of the program for a form of Name=Profile; what it wrote to its output file.
    std::string RunProfile(const std::string& profile) const {
        const std::string out = site->CgiFile("answer.out");
        WriteWholeFile(profile, "[CGI]\r\nRequest Method=POST\r\nExecutable Path=/cgi-win/velmora\r\n[System]\r\n"
                                "Output File=" + out + "\r\n[Form Literal]\r\nName=Profile\r\nhtmlfile=thanks.htm\r\n");
        TChildRun run;
        run.Args = {Program, profile};
        run.Env = {"TMPDIR=" + Tmp, "PATH=/usr/bin:/bin", "SERVER_SOFTWARE=test", "CGI_VERSION=CGI/1.3a (Win)"};
        run.TimeoutMs = 10000;
        EXPECT_EQ(RunChild(run).ExitCode, 0);
        return ReadWholeFile(out);
    }
    int32_t Counter() const { return ReadSettingsFile(site->CgiFile("VELMORA.INI"))->Counter(); }

    static inline int serial = 0;
    std::string Tmp, Program;
    pid_t Server = -1;
    std::unique_ptr<VelmoraSite> site;
};

}  // namespace

TEST_F(ResidentServer, HandStartedServerAnswersEveryClientAndStopsWhenItsQueueIsDeleted) {
    Open(VELMORA_PROGRAM);
    StartByHand();
    PostConcurrently(16);
    EXPECT_EQ(Counter(), 16);
    EXPECT_EQ(site->Mails(16).size(), 16u);
    // Served by the server: its handed-over requests leave no exchange files behind.
    std::vector<fs::path> left(fs::directory_iterator(site->CgiFile("Temp")), fs::directory_iterator());
    EXPECT_EQ(left, std::vector<fs::path>{QueueFile()});

    fs::remove(QueueFile());
    EXPECT_TRUE(WaitUntil([&] { return ::waitpid(Server, nullptr, WNOHANG) == Server; }, 3000));
    Server = -1;
    EXPECT_FALSE(TitleHeld());
}

// The proof-of-work challenge and its check in the resident server: the challenge GET and the
// posts are handed over to it (no exchange files left), a solved post is mailed once, its replay
// and a post without one refused unmailed.
TEST_F(ResidentServer, HandStartedServerServesAltchaChallengesAndChecksPosts) {
    std::string why;
    ASSERT_TRUE(InstallAltchaPeers(VELMORA_SOURCE_DIR, ALTCHA_PEERS_DIR, why)) << why;
    Open(VELMORA_PROGRAM);
    WriteWholeFile(site->CgiFile("VELMORA.CONF"), "altcha = required\naltcha_hmac_key = resident-server-altcha-key\n");
    fs::permissions(site->CgiFile("VELMORA.CONF"), fs::perms::owner_read | fs::perms::owner_write);
    StartByHand();
    HttpAnswer challenge = site->Curl({}, site->ProgramUrl() + "?altcha");
    ASSERT_EQ(challenge.Status, 200) << challenge.Body << site->ServerErrors();
    EXPECT_NE(challenge.Headers.find("application/json"), std::string::npos) << challenge.Headers;
    const std::string payload = AltchaPeer(VELMORA_SOURCE_DIR, ALTCHA_PEERS_DIR, {"solve"}, challenge.Body);
    const std::string post = "Name=Ann&htmlfile=thanks.htm&altcha=" + PercentEncodeAll(payload);
    EXPECT_EQ(site->Post(post).Body, "<p>Thanks, Ann.</p>") << site->Log();
    EXPECT_EQ(site->Post(post).Body.find("Thanks"), std::string::npos);
    EXPECT_EQ(site->Post("Name=Robot&htmlfile=thanks.htm").Body.find("Thanks"), std::string::npos);
    EXPECT_NE(site->Log().find("spam: altcha replayed"), std::string::npos) << site->Log();
    EXPECT_NE(site->Log().find("spam: altcha missing"), std::string::npos) << site->Log();
    EXPECT_EQ(site->Mails(1).size(), 1u);
    EXPECT_EQ(site->Mails(2, 500).size(), 1u);
    std::vector<fs::path> left(fs::directory_iterator(site->CgiFile("Temp")), fs::directory_iterator());
    EXPECT_EQ(left, std::vector<fs::path>{QueueFile()});
    EXPECT_TRUE(Alive(Server));
}

// A CGI start that finds no server and writes no upload leaves the exchange folder alone (no
// mkdir, no sweep); the next server to start makes it and sweeps what a dead one left.
TEST_F(ResidentServer, OnlyAServerStartMakesAndSweepsTheExchangeFolder) {
    Open(VELMORA_PROGRAM);
    EXPECT_EQ(site->Post("Name=Plain&htmlfile=thanks.htm").Body, "<p>Thanks, Plain.</p>");
    EXPECT_FALSE(fs::exists(site->CgiFile("Temp")));
    fs::create_directories(site->CgiFile("Temp"));
    const std::string leftover = site->CgiFile("Temp/velmora_C_0F3A_REQ");
    WriteWholeFile(leftover, "REQUEST_METHOD=POST\r\n\r\n");
    const timeval anHourAgo[2] = {{::time(nullptr) - 3600, 0}, {::time(nullptr) - 3600, 0}};
    ASSERT_EQ(::utimes(leftover.c_str(), anHourAgo), 0);
    EXPECT_EQ(site->Post("Name=Again&htmlfile=thanks.htm").Body, "<p>Thanks, Again.</p>");
    EXPECT_TRUE(fs::exists(leftover));
    StartByHand();
    EXPECT_FALSE(fs::exists(leftover));
    EXPECT_EQ(Counter(), 2);
}

TEST_F(ResidentServer, ClientsOfAKilledServerEndWithoutOutputAndTheNextStartRunsNormally) {
    Open(VELMORA_PROGRAM);
    StartByHand();
    SilentRelay relay;
    // The first request holds the server in its mail dialogue; the others wait in the queue.
    std::vector<std::future<HttpAnswer>> waiting;
    for (int i = 0; i < 3; ++i)
        waiting.push_back(std::async(std::launch::async, [&] {
            return site->Post("Name=Slow&mailport=" + std::to_string(relay.Port));
        }));
    ASSERT_TRUE(WaitUntil([&] { return fs::file_size(QueueFile()) == 3 * kQueueRecordSize; }, 5000));
    std::this_thread::sleep_for(std::chrono::milliseconds(300));  // every client has seen the window
    ::kill(Server, SIGKILL);
    ::waitpid(Server, nullptr, 0);
    Server = -1;
    const auto killed = std::chrono::steady_clock::now();
    // lighttpd answers 500 for a CGI program that ends without output.
    for (auto& w : waiting) EXPECT_EQ(w.get().Status, 500);
    EXPECT_LT(std::chrono::steady_clock::now() - killed, std::chrono::seconds(5));
    EXPECT_FALSE(fs::exists(QueueFile()));

    HttpAnswer a = site->Post("Name=After&htmlfile=thanks.htm");
    EXPECT_EQ(a.Body, "<p>Thanks, After.</p>");
    EXPECT_EQ(Counter(), 2);  // the one the killed server took, and this one
}

TEST_F(ResidentServer, ThreadModeServerLaunchedByAClientServesOthersWhileOneRequestIsSlow) {
    Open(VELMORA_THREADS);
    PostConcurrently(1);  // launches the server
    ASSERT_TRUE(WaitUntil([&] { return TitleHeld(); }, 3000));
    ASSERT_TRUE(WaitUntil([&] { return ProcessesOf(Program).size() == 1; }, 3000));  // the launching client ends

    SilentRelay relay;
    auto slow = std::async(std::launch::async, [&] { return site->Post("Name=Slow&mailport=" + std::to_string(relay.Port)); });
    ASSERT_TRUE(WaitUntil([&] { return Counter() == 2; }, 5000));  // the slow one is being served
    const auto start = std::chrono::steady_clock::now();
    PostConcurrently(16);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));
    EXPECT_EQ(slow.wait_for(std::chrono::seconds(0)), std::future_status::timeout);
    EXPECT_EQ(Counter(), 18);
    EXPECT_EQ(site->Mails(17).size(), 17u);

    fs::remove(QueueFile());
    EXPECT_TRUE(WaitUntil([&] { return ProcessesOf(Program).empty(); }, 3000));
    EXPECT_EQ(slow.get().Status, 500);  // its server went away: no answer, and no hang
}

TEST_F(ResidentServer, StandardServerOfferedAProfileRecordStopsTakingRequests) {
    // A server that a standard CGI start launched has the standard engine only.
    Open(VELMORA_THREADS);
    PostConcurrently(1);
    ASSERT_TRUE(WaitUntil([&] { return TitleHeld(); }, 3000));
    const std::string request = site->CgiFile("Temp/velmora_threads_C_0001_REQ");
    WriteWholeFile(request, "SERVER_SOFTWARE=test\r\nMORVAN_CGI_DEBUG=true\r\n\r\n");
    auto append = [&](const std::string& name) {
        TExclusiveFile queue;
        ASSERT_TRUE(WaitUntil([&] { return queue.Open(QueueFile(), true) == TExclusiveOpen::Opened; }, 2000));
        TQueueRecord r;
        r.FileName = name;
        AppendRecord(queue, r);
    };
    append(site->CgiFile("PROFILE.INI"));
    append(request);
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    std::string bytes = ReadWholeFile(QueueFile());
    ASSERT_EQ(bytes.size(), 2 * kQueueRecordSize);
    EXPECT_EQ(DecodeQueueRecord(bytes.data()).Status, qsWaiting);
    EXPECT_EQ(DecodeQueueRecord(bytes.data() + kQueueRecordSize).Status, qsWaiting);
    EXPECT_TRUE(fs::exists(request));
    EXPECT_EQ(ProcessesOf(Program).size(), 1u);  // it polls no more, but goes on
}

TEST_F(ResidentServer, HandStartedServerServesAProfileRequest) {
    Open(VELMORA_PROGRAM);
    StartByHand();
    const std::string out = RunProfile(site->CgiFile("request.ini"));
    EXPECT_NE(out.find("<p>Thanks, Profile.</p>"), std::string::npos) << out;
    EXPECT_EQ(Counter(), 1);
    EXPECT_TRUE(Alive(Server));
}

// The client that launched a server and could not queue its request says so: a 503 page and a log line.
TEST_F(ResidentServer, ClientThatCannotQueueAnswersServiceUnavailable) {
    Open(VELMORA_THREADS);
    fs::create_directories(QueueFile());  // the queue's name is taken: no record can be written
    HttpAnswer a = site->Post("Name=Lost&htmlfile=thanks.htm");
    EXPECT_EQ(a.Status, 503) << a.Headers << a.Body;
    EXPECT_NE(a.Body.find("Service unavailable"), std::string::npos) << a.Body;
    EXPECT_NE(site->Log().find("CGI server not reached: request not queued"), std::string::npos) << site->Log();
    EXPECT_EQ(Counter(), 0);
}

// A post larger than the server would read is refused as plain CGI refuses it, and its body never
// reaches the exchange folder (the server is held still so that the request file can be looked at);
// an upload the site allows is handed over whole.
TEST_F(ResidentServer, OversizedPostIsRefusedWithoutItsBodyEnteringTheExchange) {
    Open(VELMORA_PROGRAM);
    StartByHand();
    ::kill(Server, SIGSTOP);
    auto big = std::async(std::launch::async, [&] { return site->Post("Name=Big&pad=" + std::string(60000, 'x')); });
    ASSERT_TRUE(WaitUntil([&] { return fs::exists(QueueFile()) && fs::file_size(QueueFile()) == kQueueRecordSize; }, 5000));
    int requests = 0;
    for (const auto& e : fs::directory_iterator(site->CgiFile("Temp")))
        if (e.path().string().ends_with("_REQ")) {
            ++requests;
            EXPECT_LT(e.file_size(), 4096u);  // the environment alone
        }
    EXPECT_EQ(requests, 1);
    ::kill(Server, SIGCONT);
    EXPECT_EQ(big.get().Status, 413);
    EXPECT_EQ(Counter(), 0);

    // An upload within the site's own, larger limit is handed over whole.
    WriteWholeFile(site->CgiFile("VELMORA.CONF"), "attach_uploads = yes\r\nmax_upload_bytes = 300000\r\n");
    WriteWholeFile(site->Dir() + "/photo.bin", std::string(50000, 'p'));
    HttpAnswer up = site->PostMultipart({"Name=Up", "htmlfile=thanks.htm", "doc=@" + site->Dir() + "/photo.bin"});
    EXPECT_EQ(up.Body, "<p>Thanks, Up.</p>");
    auto mails = site->Mails(1);
    ASSERT_EQ(mails.size(), 1u);
    EXPECT_NE(mails[0].Raw.find("photo.bin"), std::string::npos);
}

// A CGI start whose input ends before the announced length hands over what came; the server runs
// no form on it and answers 400 through the client, as a plain CGI start would.
TEST_F(ResidentServer, HandedOverBodyShorterThanAnnouncedRunsNoForm) {
    Open(VELMORA_PROGRAM);
    StartByHand();
    TChildRun run;
    run.Args = {Program};
    run.Env = {"TMPDIR=" + Tmp, "PATH=/usr/bin:/bin", "SERVER_SOFTWARE=test", "REQUEST_METHOD=POST",
               "CONTENT_TYPE=application/x-www-form-urlencoded", "CONTENT_LENGTH=100", "SCRIPT_NAME=/cgi-bin/velmora"};
    run.Input = "Name=Short";
    run.TimeoutMs = 10000;
    TChildResult r = RunChild(run);
    EXPECT_EQ(r.ExitCode, 0);
    EXPECT_EQ(r.Out.rfind("HTTP/1.1 400 Bad Request\r\n", 0), 0u) << r.Out;
    EXPECT_NE(site->Log().find("Request body ended after 10 of 100 announced bytes"), std::string::npos) << site->Log();
    EXPECT_EQ(Counter(), 0);
    EXPECT_TRUE(Alive(Server));
}

// A program folder or profile path too long for a queue record: the request is served by the
// process that got it, never queued under a cut name that no one would answer.
TEST_F(ResidentServer, RequestsWhoseNamesDoNotFitAQueueRecordAreServedInTheirOwnProcess) {
    Open(VELMORA_PROGRAM);
    const std::string sub(230, 'd'), dir = site->CgiFile(sub);
    fs::create_directories(dir);
    for (const char* f : {"VELMORA.INI", "VELMORA.CONF", "thanks.htm"}) fs::copy_file(site->CgiFile(f), dir + "/" + f);
    fs::copy_file(Program, dir + "/velmora");
    Program = dir + "/velmora";
    StartByHand();

    HttpAnswer a = site->Curl({"--data-binary", "Name=Long&htmlfile=thanks.htm"}, site->Url("/cgi-bin/" + sub + "/velmora"));
    EXPECT_EQ(a.Body, "<p>Thanks, Long.</p>") << a.Headers;

    const std::string out = RunProfile(dir + "/" + std::string(40, 'p') + ".ini");
    EXPECT_NE(out.find("<p>Thanks, Profile.</p>"), std::string::npos) << out;

    EXPECT_EQ(site->Mails(2).size(), 2u);
    EXPECT_NE(ReadWholeFile(dir + "/Log/velmora.Log").find("request served without the resident server"), std::string::npos);
    EXPECT_EQ(fs::file_size(QueueFile()), 0u);
    EXPECT_TRUE(ExchangeFiles().empty());
    EXPECT_TRUE(Alive(Server));
}

// A slow visitor's upload is copied into its request file before the queue is locked: the queue
// stays free for every other process meanwhile, and a server started during the copy keeps the
// file that is still being written.
TEST_F(ResidentServer, ASlowUploadHoldsNoQueueLockAndSurvivesAServerStartedMeanwhile) {
    Open(VELMORA_PROGRAM, "server.stream-request-body = 2\n");
    WriteWholeFile(site->CgiFile("VELMORA.CONF"), "attach_uploads = yes\r\nmax_upload_bytes = 300000\r\n");
    WriteWholeFile(site->Dir() + "/photo.bin", std::string(200000, 'p'));
    StartByHand();
    auto upload = std::async(std::launch::async, [&] {
        return site->Curl({"--limit-rate", "50k", "-F", "Name=Slow", "-F", "htmlfile=thanks.htm", "-F",
                           "doc=@" + site->Dir() + "/photo.bin"}, site->ProgramUrl());
    });
    ASSERT_TRUE(WaitUntil([&] {
        for (const fs::path& f : ExchangeFiles())
            if (f.string().ends_with("_REQ") && fs::file_size(f) > 30000) return true;
        return false;
    }, 10000));
    {
        TExclusiveFile queue;
        EXPECT_TRUE(WaitUntil([&] { return queue.Open(QueueFile(), true) == TExclusiveOpen::Opened; }, 300));
    }
    ::kill(Server, SIGKILL);
    ::waitpid(Server, nullptr, 0);
    StartByHand();
    HttpAnswer a = upload.get();
    EXPECT_EQ(a.Body, "<p>Thanks, Slow.</p>") << a.Headers << site->Log();
    auto mails = site->Mails(1);
    ASSERT_EQ(mails.size(), 1u);
    EXPECT_NE(mails[0].Raw.find("photo.bin"), std::string::npos);
}

// A served record whose removal finds the queue locked longer than its attempts is removed at a
// later poll, and says so: its client gets the answer instead of waiting 180 s for nothing.
TEST_F(ResidentServer, ARemovalPutOffByALockedQueueIsRetried) {
    Open(VELMORA_PROGRAM);
    StartByHand();
    std::thread holder;
    ScriptedRelay relay({[&](RelayConnection& c) {
        AnswerUntilData(c);
        c.ReadUntil("\r\n.\r\n");
        // The queue is held across the server's removal, longer than its attempts last and
        // shorter than the waiting client's own.
        auto queue = std::make_shared<TExclusiveFile>();
        ASSERT_TRUE(WaitUntil([&] { return queue->Open(QueueFile(), true) == TExclusiveOpen::Opened; }, 2000));
        holder = std::thread([queue] { std::this_thread::sleep_for(std::chrono::milliseconds(800)); });
        c.Send("250 queued\r\n");
        c.Answer("221 bye\r\n");
        holder.join();
    }});
    const auto start = std::chrono::steady_clock::now();
    HttpAnswer a = site->Post("Name=Held&htmlfile=thanks.htm&mailport=" + std::to_string(relay.Port()));
    EXPECT_EQ(a.Body, "<p>Thanks, Held.</p>") << a.Headers << site->Log();
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));
    EXPECT_NE(site->Log().find("Queue record not removed (queue locked)"), std::string::npos) << site->Log();
    EXPECT_TRUE(WaitUntil([&] { return ExchangeFiles().empty(); }, 2000));
}

// A record that cannot be written after the body went into the request file (here the queue's
// name is a FIFO: locked and opened, never written): the post is served by its own process on
// the body read back from that file, never on the emptied input (an empty form, thanked).
TEST_F(ResidentServer, ARecordNotWrittenAfterTheBodyCopyServesTheWholeForm) {
    Open(VELMORA_PROGRAM);
    fs::create_directories(site->CgiFile("Temp"));
    ASSERT_EQ(::mkfifo(QueueFile().c_str(), 0600), 0);
    HttpAnswer a = site->Post("Name=Kept&htmlfile=thanks.htm&message=" + std::string(3000, 'm'));
    EXPECT_EQ(a.Body, "<p>Thanks, Kept.</p>") << a.Headers;
    auto mails = site->Mails(1);
    ASSERT_EQ(mails.size(), 1u);
    EXPECT_NE(mails[0].Raw.find(std::string(60, 'm')), std::string::npos) << mails[0].Raw;
    EXPECT_TRUE(ExchangeFiles().empty());
}
