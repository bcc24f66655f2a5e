// Tests of the run of one request: failures in the application's handlers, EndRequest's clean-up,
// session objects, request numbers, the once-only first event, adaptors without an engine.
#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <stdexcept>
#include <thread>
#include <vector>

#include "HAdaptor.h"
#include "LogTestSupport.h"
#include "System.h"
#include "TestEngine.h"

namespace velmora {
namespace {

using test::TTestEngine;

TEST(EngineRequest, ExceptionWithoutHandlerIsLoggedAndTheRequestStillEnds) {
    test::TempDir logDir;
    std::string dir = test::UseLogDir(logDir);
    std::string upload = dir + "/upload.tmp";
    TTestEngine e;
    e.SessionName = "Mail";
    int idInside = -1;
    bool sessionSeen = false;
    e.OnExecRequest = [&](TObject*) {
        TRequestState& st = RequestState();
        idInside = st.RequestId;
        sessionSeen = st.SessionCookie && st.SessionCookie->CookieName == "Mail" &&
                      st.SessionCookie->Coded && st.SessionCookie->CodeKey >= 100 &&
                      st.SessionCookie->CodeKey <= 999 && st.SessionVariables &&
                      st.SessionVariables->Count() == 0;
        st.UploadFiles = std::make_unique<TStringList>();
        std::ofstream(upload) << "x";
        st.UploadFiles->Add(upload);
        st.UploadFiles->Add(dir + "/never-made.tmp");
        throw EConvertError("'x' is not a valid integer value");
    };
    e.HandleRequest();

    EXPECT_EQ(e.Output(), "");  // no default header after a failure
    EXPECT_TRUE(sessionSeen);
    // EndRequest ran: upload files gone, session objects released, request number back to 0.
    EXPECT_FALSE(FileExists(upload));
    EXPECT_EQ(RequestState().UploadFiles, nullptr);
    EXPECT_EQ(RequestState().SessionCookie, nullptr);
    EXPECT_EQ(RequestState().SessionVariables, nullptr);
    EXPECT_EQ(RequestState().RequestId, 0);

    std::string log = test::ReadWholeFile(test::LogFileIn(dir));
    std::smatch m;
    ASSERT_TRUE(std::regex_match(
        log, m, test::LogLinePattern("Unhandled exception : 'x' is not a valid integer value")))
        << log;
    EXPECT_EQ(std::stoi(m[1]), idInside);
    EXPECT_GE(idInside, 0);
    EXPECT_LE(idInside, 999);
}

TEST(EngineRequest, ExceptionGoesToOnRequestErrorAndOutputWrittenSoFarStays) {
    test::TempDir logDir;
    std::string dir = test::UseLogDir(logDir);
    TTestEngine e;
    e.BufferedOutput = true;
    TObject* sender = nullptr;
    std::string reason;
    e.OnExecRequest = [&](TObject*) {
        AdaptWrite("<p>before");
        throw Exception("boom");
    };
    e.OnRequestError = [&](TObject* s, const Exception& ex) {
        sender = s;
        reason = ex.Message();
    };
    e.HandleRequest();
    EXPECT_EQ(sender, &e);
    EXPECT_EQ(reason, "boom");
    // The buffer is still flushed, with its length.
    EXPECT_EQ(e.Output(),
              "HTTP/1.1 200 OK\r\ncontent-type:text/html\r\ncontent-length:9\r\n\r\n<p>before");
    EXPECT_FALSE(FileExists(test::LogFileIn(dir)));

    // An error handler that fails itself is logged; the request still ends properly.
    e.BufferedOutput = false;
    e.ResetCapture();
    e.OnRequestError = [](TObject*, const Exception&) { throw Exception("handler failed"); };
    EXPECT_NO_THROW(e.HandleRequest());
    EXPECT_TRUE(std::regex_match(test::ReadWholeFile(test::LogFileIn(dir)),
                                 test::LogLinePattern("Unhandled exception : handler failed")));
    EXPECT_EQ(RequestState().RequestId, 0);

    // Standard exceptions and anything else thrown end the request the same way.
    std::vector<std::string> reasons;
    e.OnRequestError = [&](TObject*, const Exception& ex) { reasons.push_back(ex.Message()); };
    e.OnExecRequest = [](TObject*) { throw std::length_error("basic_string::_M_create"); };
    EXPECT_NO_THROW(e.HandleRequest());
    e.OnExecRequest = [](TObject*) { throw 42; };
    EXPECT_NO_THROW(e.HandleRequest());
    EXPECT_EQ(reasons, (std::vector<std::string>{"basic_string::_M_create", "Unknown exception"}));
    EXPECT_EQ(RequestState().RequestId, 0);
}

TEST(EngineRequest, FirstEventOnceAndEventsInOrder) {
    TTestEngine e;
    std::string order;
    e.OnFirstExecRequest = [&](TObject* s) { order += s == &e ? "F" : "?"; };
    e.OnExecRequest = [&](TObject* s) { order += s == &e ? "E" : "?"; };
    e.OnLastExecRequest = [&](TObject* s) { order += s == &e ? "L" : "?"; };
    e.HandleRequest();
    e.HandleRequest();
    EXPECT_EQ(order, "FELEL");
    // A given request number is kept for the request (a resident server hands one over).
    RequestState().RequestId = 4711;
    int seen = 0;
    e.OnExecRequest = [&](TObject*) { seen = RequestState().RequestId; };
    e.HandleRequest();
    EXPECT_EQ(seen, 4711);
    EXPECT_EQ(RequestState().RequestId, 0);
    // Session objects exist only when the engine is active.
    e.Active = false;
    bool hadCookie = true;
    e.OnExecRequest = [&](TObject*) { hadCookie = RequestState().SessionCookie != nullptr; };
    e.HandleRequest();
    EXPECT_FALSE(hadCookie);
}

TEST(EngineRequest, AdaptorRoutinesWithAndWithoutCurrentEngine) {
    TTestEngine e;
    e.Variables["HTTP_USER_AGENT"] = "agent";
    e.Body = "0123456789";
    e.FormData = "a=1&b=%3Cx%3E";
    std::string agent, field, read;
    e.OnExecRequest = [&](TObject*) {
        agent = AdaptGetUserAgent();
        field = AdaptGetFormField(" A ", "none") + AdaptGetFormField("b", "") +
                AdaptGetFormField("c", "none");
        char buf[16];
        int n = AdaptReadClient(buf, 4);
        read.assign(buf, static_cast<size_t>(n));
        n = AdaptReadClient(buf, 16);
        read += "|" + std::string(buf, static_cast<size_t>(n));
    };
    e.HandleRequest();
    EXPECT_EQ(agent, "agent");
    EXPECT_EQ(field, "1<x>none");
    EXPECT_EQ(read, "0123|456789");

    // A thread that runs no request has no engine: writes vanish, reads are empty.
    std::thread([&] {
        EXPECT_EQ(CurrentEngine(), nullptr);
        AdaptWrite("<p>lost");
        AdaptWriteHeader("X", "y");
        char buf[4];
        EXPECT_EQ(AdaptReadClient(buf, 4), 0);
        EXPECT_EQ(AdaptGetVariable("HTTP USER AGENT"), "");
        EXPECT_EQ(AdaptGetFormField("a", "dflt"), "dflt");
        EXPECT_EQ(AdaptGetQueryString(), "");
        EXPECT_EQ(e.Output(), "");
    }).join();
}

TEST(EngineRequest, LoadedHidesTheOwningFormAndMakesTheEngineCurrent) {
    Application().ShowMainForm = true;
    TForm form;
    form.Show();
    auto* e = new TTestEngine(&form);  // owned by the form
    EXPECT_FALSE(Application().ShowMainForm);
    RequestState().CurrentEngine = nullptr;
    e->Loaded();
    EXPECT_EQ(CurrentEngine(), e);
    EXPECT_EQ(form.WindowState(), wsMinimized);
    EXPECT_FALSE(form.Visible());
    // An inactive engine leaves both alone.
    TForm other;
    other.Show();
    auto* idle = new TTestEngine(&other);
    idle->Active = false;
    idle->Loaded();
    EXPECT_EQ(CurrentEngine(), e);
    EXPECT_TRUE(other.Visible());
}

// A form that reports its destruction through a pipe, for the termination test's child.
int gFreedNoteFd = -1;
struct TNotingForm : TForm {
    using TForm::TForm;
    ~TNotingForm() override { (void)!::write(gFreedNoteFd, "freed", 5); }
};

TEST(EngineRequest, LocksAndTermination) {
    TTestEngine e;
    TLockHandle lock = e.CreateLock();
    e.EnterLock(lock);
    e.EnterLock(lock);  // the holder may enter again
    std::atomic<bool> taken{false};
    std::thread other([&] {
        e.EnterLock(lock);
        taken = true;
        e.LeaveLock(lock);
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    e.LeaveLock(lock);
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_FALSE(taken) << "another thread entered while the holder was still inside";
    e.LeaveLock(lock);
    other.join();
    EXPECT_TRUE(taken);
    e.FreeLock(lock);
    e.EnterLock(nullptr);  // no lock: nothing to do, and no crash
    e.LeaveLock(nullptr);
    e.FreeLock(nullptr);

    // In a library the server's process must go on (checked in a child: an exit there would
    // otherwise end this test as a pass).
    pid_t lib = fork();
    ASSERT_GE(lib, 0);
    if (lib == 0) {
        SetRunsAsLibrary(true);
        TerminateProgram();
        _exit(3);
    }
    int libStatus = 0;
    waitpid(lib, &libStatus, 0);
    ASSERT_TRUE(WIFEXITED(libStatus));
    EXPECT_EQ(WEXITSTATUS(libStatus), 3);

    // An executable ends with code 0, after its forms are freed.
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    gFreedNoteFd = fds[1];
    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        close(fds[0]);
        new TNotingForm(&Application());
        TerminateProgram();
        _exit(7);  // not reached
    }
    close(fds[1]);
    int status = 0;
    waitpid(child, &status, 0);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
    char note[8] = {};
    EXPECT_EQ(read(fds[0], note, sizeof note), 5);
    EXPECT_STREQ(note, "freed");
    close(fds[0]);
}

}  // namespace
}  // namespace velmora
