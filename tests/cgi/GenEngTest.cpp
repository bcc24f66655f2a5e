// Tests of the general engine component: its initial values, setters that reach the current engine,
// Loaded's choice of engine by environment, and forwarding with and without a current engine.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <thread>
#include <vector>

#include "GenEng.h"
#include "Streams.h"
#include "System.h"
#include "TestEngine.h"

using namespace velmora;
using velmora::test::TTestEngine;

namespace {

class GeneralEngine : public ::testing::Test {
protected:
    void SetUp() override {
        for (const char* n : {"SERVER_SOFTWARE", "CGI_VERSION", "CONTENT_LENGTH", "QUERY_STRING"})
            ::unsetenv(n);
        CgiSEngStartup();  // while no CGI start is in the environment: leaves the handles alone
        // Profile-file engines made by Loaded stay inactive: they neither serve nor end the process.
        CgiWEngStartup();
        WinCGIStart = false;
        SetParams({});
        Form = std::make_unique<TForm>();
        Form->Show();
        HTTP = new TGeneralHttpEngine(Form.get());
        HTTP->CgiAutoTerminate = false;
    }

    void TearDown() override {
        Form.reset();
        RequestState().CurrentEngine = nullptr;
        CGIRequestState().InputStream.reset();
        CGIRequestState().OutputStream.reset();
        SetRunsAsLibrary(false);
    }

    static void SetParams(std::vector<std::string> params) {
        static std::vector<std::string> store;
        store = std::move(params);
        store.insert(store.begin(), "prog");
        std::vector<char*> argv;
        for (auto& p : store) argv.push_back(p.data());
        SetCommandLine(static_cast<int>(argv.size()), argv.data());
    }

    // Loads the component with a fresh request on the CGI streams; what a served request wrote.
    std::string Load() {
        auto out = std::make_unique<TMemoryStream>();
        TMemoryStream* o = out.get();
        CGIRequestState().OutputStream = std::move(out);
        CGIRequestState().InputStream = std::make_unique<TMemoryStream>();
        HTTP->Loaded();
        return o->Bytes();
    }

    std::unique_ptr<TForm> Form;
    TGeneralHttpEngine* HTTP = nullptr;
};

TEST_F(GeneralEngine, StartsWithItsInitialValues) {
    EXPECT_TRUE(HTTP->AutoHttpHeader());
    EXPECT_EQ(HTTP->AutoContentType(), "text/html");
    EXPECT_TRUE(HTTP->AutoReadInput());
    EXPECT_EQ(HTTP->AutoReadLimit(), 10000);
    EXPECT_FALSE(HTTP->BufferedOutput());
    EXPECT_EQ(HTTP->TempDir(), "");
    EXPECT_EQ(HTTP->CGIMode, NormalMode);
    EXPECT_TRUE(TGeneralHttpEngine(nullptr).CgiAutoTerminate);
    EXPECT_EQ(HTTP->SessionName(), "DefaultSession");
    EXPECT_FALSE(HTTP->NoCache());
    EXPECT_FALSE(HTTP->OnExecRequest());
    EXPECT_EQ(HTTP->CGIStdEngine(), nullptr);
}

TEST_F(GeneralEngine, SettersReachOnlyTheCallingThreadsCurrentEngine) {
    TTestEngine engine;
    engine.SessionName = "engine's own";
    HTTP->SetSessionName("Mail");  // no current engine: the component alone
    EXPECT_EQ(HTTP->SessionName(), "Mail");
    EXPECT_EQ(engine.SessionName, "engine's own");

    engine.MakeCurrent();
    int calls = 0;
    HTTP->SetAutoHttpHeader(false);
    HTTP->SetAutoContentType("text/plain");
    HTTP->SetAutoReadInput(false);
    HTTP->SetAutoReadLimit(77);
    HTTP->SetBufferedOutput(true);
    HTTP->SetTempDir("/tmp/up");
    HTTP->SetSessionName("S2");
    HTTP->SetNoCache(true);
    HTTP->SetOnExecRequest([&](TObject*) { calls += 1; });
    HTTP->SetOnFirstExecRequest([&](TObject*) { calls += 10; });
    HTTP->SetOnLastExecRequest([&](TObject*) { calls += 100; });
    HTTP->SetOnRequestError([&](TObject*, const Exception&) { calls += 1000; });
    EXPECT_FALSE(engine.AutoHttpHeader);
    EXPECT_EQ(engine.AutoContentType, "text/plain");
    EXPECT_FALSE(engine.AutoReadInput);
    EXPECT_EQ(engine.AutoReadLimit, 77);
    EXPECT_TRUE(engine.BufferedOutput);
    EXPECT_EQ(engine.TempDir, "/tmp/up");
    EXPECT_EQ(engine.SessionName, "S2");
    EXPECT_TRUE(engine.NoCache);
    engine.OnExecRequest(nullptr);
    engine.OnFirstExecRequest(nullptr);
    engine.OnLastExecRequest(nullptr);
    engine.OnRequestError(nullptr, Exception("x"));
    EXPECT_EQ(calls, 1111);
    // CGIMode and CgiAutoTerminate are the component's own until an engine is made.
    HTTP->CGIMode = ServerThreadMode;
    EXPECT_EQ(engine.CGIMode, NormalMode);

    // Another thread has no current engine: its change stays in the component.
    std::thread([&] { HTTP->SetSessionName("from elsewhere"); }).join();
    EXPECT_EQ(HTTP->SessionName(), "from elsewhere");
    EXPECT_EQ(engine.SessionName, "S2");
}

TEST_F(GeneralEngine, LoadedServesAStandardCgiRequest) {
    ::setenv("SERVER_SOFTWARE", "lighttpd/1.4.69", 1);
    ::setenv("CGI_VERSION", "CGI/1.1", 1);
    ::setenv("QUERY_STRING", "a=1", 1);
    HTTP->SetSessionName("Mail");
    std::string sessionSeen;
    TObject* server = nullptr;
    HTTP->SetOnExecRequest([&](TObject* sender) {
        // The request runs inside the engine's constructor: the component learns of the engine
        // only afterwards, and the handler reaches it as Sender or through the component.
        server = sender;
        EXPECT_EQ(sender, CurrentEngine());
        HTTP->SetSessionName("changed while serving");
        sessionSeen = CurrentEngine()->SessionName;
        HTTP->Write("<p>a=" + HTTP->GetFormField("a", "") + " " + HTTP->GetServerSoftware());
    });
    EXPECT_EQ(Load(), "HTTP/1.1 200 OK\r\ncontent-type:text/html\r\n\r\n<p>a=1 lighttpd/1.4.69");
    TCGIStdEngine* e = HTTP->CGIStdEngine();
    ASSERT_NE(e, nullptr);
    EXPECT_EQ(server, e);
    EXPECT_FALSE(e->HandStarted);
    EXPECT_EQ(e->CGIMode, NormalMode);
    EXPECT_FALSE(e->AutoTerminate);
    EXPECT_EQ(e->Owner(), Form.get());
    EXPECT_EQ(CurrentEngine(), e);
    EXPECT_EQ(sessionSeen, "changed while serving");
    EXPECT_FALSE(Form->Visible());
    EXPECT_EQ(Form->WindowState(), wsMinimized);
    EXPECT_FALSE(Application().ShowMainForm);
}

TEST_F(GeneralEngine, LoadedChoosesByEnvironment) {
    struct Case {
        const char* serverSoftware;  // null: not set
        const char* cgiVersion;
        std::vector<std::string> params;
        bool created, handStarted;
    };
    const Case cases[] = {
        {"Apache/2.4", nullptr, {}, true, false},
        {"Apache/2.4", "CGI/1.1 (Win)", {}, false, false},
        {"Apache/2.4", "cgi/1.3A (wIN)", {}, false, false},
        {"Apache/2.4", "WINDOWS", {}, false, false},
        {nullptr, nullptr, {"/path/profile.ini"}, false, false},
        {nullptr, nullptr, {}, true, true},
        {"", nullptr, {}, true, true},
        {"ZB-Server/1", nullptr, {}, true, true},
        {"MyZBServer", nullptr, {"x"}, false, false},
        {"my zbserver", nullptr, {"x"}, true, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.serverSoftware ? c.serverSoftware : "(unset)") + " / " +
                     (c.cgiVersion ? c.cgiVersion : "(unset)") + " / " +
                     std::to_string(c.params.size()) + " parameters");
        TearDown();
        SetUp();
        if (c.serverSoftware) ::setenv("SERVER_SOFTWARE", c.serverSoftware, 1);
        if (c.cgiVersion) ::setenv("CGI_VERSION", c.cgiVersion, 1);
        SetParams(c.params);
        // A resident mode only for hand starts: a CGI start in a resident mode with no server running
        // would launch this test program as the server, which would run every test again.
        HTTP->CGIMode = c.handStarted ? ServerThreadMode : NormalMode;
        bool served = false;
        HTTP->SetOnExecRequest([&](TObject*) { served = true; });
        Load();
        TCGIStdEngine* e = HTTP->CGIStdEngine();
        ASSERT_EQ(e != nullptr, c.created);
        EXPECT_FALSE(Form->Visible());
        // The profile-file engine wherever the standard one does not serve, and when started by hand.
        TCGIWinEngine* w = HTTP->CGIWinEngine();
        ASSERT_EQ(w != nullptr, !c.created || c.handStarted);
        if (w) {
            EXPECT_EQ(w->HandStarted, c.handStarted);
            EXPECT_EQ(w->CGIMode, c.handStarted ? ServerMode : NormalMode);
            EXPECT_EQ(w->Owner(), Form.get());
        }
        if (!e) continue;
        EXPECT_EQ(e->HandStarted, c.handStarted);
        // Started by hand, the engine is the resident server's: ServerMode whatever CGIMode says.
        EXPECT_EQ(e->CGIMode, c.handStarted ? ServerMode : NormalMode);
        // The resident server does not exist yet, so a hand-started engine serves nothing.
        EXPECT_EQ(served, !c.handStarted);
        EXPECT_EQ(CurrentEngine() == e, !c.handStarted);
    }
}

TEST_F(GeneralEngine, LoadedMakesNoEngineWhenOneIsCurrentOrInALibrary) {
    ::setenv("SERVER_SOFTWARE", "lighttpd", 1);
    TTestEngine other;
    other.MakeCurrent();
    Load();
    EXPECT_EQ(HTTP->CGIStdEngine(), nullptr);
    EXPECT_EQ(HTTP->CGIWinEngine(), nullptr);
    EXPECT_EQ(CurrentEngine(), &other);

    RequestState().CurrentEngine = nullptr;
    SetRunsAsLibrary(true);
    Load();
    EXPECT_EQ(HTTP->CGIStdEngine(), nullptr);
    EXPECT_EQ(HTTP->CGIWinEngine(), nullptr);
    EXPECT_EQ(CurrentEngine(), nullptr);
    EXPECT_FALSE(Form->Visible());
}

// An engine that yields what only odd engines yield, to see the component's own rules.
// It also notes every lock call that reaches it.
class TOddEngine : public TTestEngine {
public:
    std::string GetQueryString() override { return NotAvailable; }
    int GetContentLength() override { throw EConvertError("bad length"); }
    TLockHandle CreateLock() override {
        LockCalls.push_back("create");
        return Created = TTestEngine::CreateLock();
    }
    void EnterLock(TLockHandle l) override { Note("enter", l); TTestEngine::EnterLock(l); }
    void LeaveLock(TLockHandle l) override { Note("leave", l); TTestEngine::LeaveLock(l); }
    void FreeLock(TLockHandle l) override { Note("free", l); TTestEngine::FreeLock(l); }

    std::vector<std::string> LockCalls;
    TLockHandle Created = nullptr;

private:
    void Note(const char* what, TLockHandle l) { LockCalls.push_back(std::string(what) + (l == Created ? "" : " other")); }
};

TEST_F(GeneralEngine, ForwardsToTheCurrentEngine) {
    TOddEngine engine;
    engine.Variables = {{"SERVER_NAME", "host"}, {"REMOTE_USER", "ada"}, {"SERVER_PORT_SECURE", "1"},
                        {"SCRIPT_NAME", "/cgi-bin/x"}, {"REQUEST_METHOD", "POST"}};
    engine.FormData = "f=one&g=2";
    engine.Body = "body";
    // The component is used the way an application uses it: from the handler of a request.
    engine.OnExecRequest = [&](TObject*) {
        EXPECT_EQ(HTTP->GetServerName(), "host");
        EXPECT_EQ(HTTP->GetRemoteUser(), "ada");
        EXPECT_TRUE(HTTP->IsSecurePort());
        EXPECT_EQ(HTTP->GetScriptName(), "/cgi-bin/x");
        EXPECT_EQ(HTTP->GetExecutablePath(), "/cgi-bin/x");
        EXPECT_EQ(HTTP->GetUrl(), "/cgi-bin/x");
        EXPECT_EQ(HTTP->GetRequestMethod(), "POST");
        EXPECT_EQ(HTTP->GetQueryString(), "");
        EXPECT_EQ(HTTP->GetContentLength(), 0);
        EXPECT_EQ(HTTP->GetVariable("server name"), "host");
        EXPECT_EQ(HTTP->GetFormField("f", "d"), "one");
        EXPECT_EQ(HTTP->GetFormField("h", "d"), "d");
        char buf[8] = {};
        EXPECT_EQ(HTTP->ReadClient(buf, 8), 4);
        HTTP->WriteHeader("X-A", "1");
        HTTP->EndHeaders();
        HTTP->Write("<p>");
        HTTP->WriteBuffer("zz", 2);
    };
    engine.HandleRequest();
    EXPECT_EQ(engine.Output(), "HTTP/1.1 200 OK\r\nX-A:1\r\ncontent-type:text/html\r\n\r\n\r\n<p>zz");
    engine.MakeCurrent();
    TLockHandle lock = HTTP->CreateLock();
    ASSERT_NE(lock, nullptr);
    EXPECT_EQ(lock, engine.Created);
    HTTP->EnterLock(lock);
    HTTP->LeaveLock(lock);
    HTTP->FreeLock(lock);
    EXPECT_EQ(engine.LockCalls, (std::vector<std::string>{"create", "enter", "leave", "free"}));
}

// Documented outcome without a current engine: empty reads, dropped writes, no failure.
TEST_F(GeneralEngine, ForwardingWithoutACurrentEngineIsHarmless) {
    ASSERT_EQ(CurrentEngine(), nullptr);
    TOddEngine bystander;  // exists, but is not the thread's engine: nothing may reach it
    using Getter = std::string (TGeneralHttpEngine::*)();
    for (Getter g : {&TGeneralHttpEngine::GetServerName, &TGeneralHttpEngine::GetServerSoftware,
                     &TGeneralHttpEngine::GetGatewayInterface, &TGeneralHttpEngine::GetServerProtocol,
                     &TGeneralHttpEngine::GetServerPort, &TGeneralHttpEngine::GetRequestMethod,
                     &TGeneralHttpEngine::GetPathInfo, &TGeneralHttpEngine::GetPathTranslated,
                     &TGeneralHttpEngine::GetScriptName, &TGeneralHttpEngine::GetQueryString,
                     &TGeneralHttpEngine::GetRemoteHost, &TGeneralHttpEngine::GetRemoteAddr,
                     &TGeneralHttpEngine::GetAuthType, &TGeneralHttpEngine::GetRemoteUser,
                     &TGeneralHttpEngine::GetRemoteIdent, &TGeneralHttpEngine::GetContentType,
                     &TGeneralHttpEngine::GetUrl, &TGeneralHttpEngine::GetUserAgent,
                     &TGeneralHttpEngine::GetHttpCookie, &TGeneralHttpEngine::GetReferer,
                     &TGeneralHttpEngine::GetExecutablePath})
        EXPECT_EQ((HTTP->*g)(), "");
    EXPECT_FALSE(HTTP->IsSecurePort());
    EXPECT_EQ(HTTP->GetContentLength(), 0);
    EXPECT_EQ(HTTP->GetVariable("SERVER_NAME"), "");
    EXPECT_EQ(HTTP->GetFormField("a", "default"), "default");
    auto names = HTTP->GetFormFieldNames();
    ASSERT_NE(names, nullptr);
    EXPECT_EQ(names->Count(), 0);
    char buf[4];
    EXPECT_EQ(HTTP->ReadClient(buf, 4), 0);
    HTTP->Write("<p>dropped");
    HTTP->WriteBuffer("x", 1);
    HTTP->WriteHeader("A", "b");
    HTTP->EndHeaders();
    TLockHandle lock = HTTP->CreateLock();
    EXPECT_EQ(lock, nullptr);
    HTTP->EnterLock(lock);
    HTTP->LeaveLock(lock);
    HTTP->FreeLock(lock);
    EXPECT_TRUE(bystander.LockCalls.empty());
    EXPECT_EQ(bystander.Output(), "");
}

}  // namespace
