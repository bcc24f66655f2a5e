// Tests of the standard CGI engine inside the test process: the request run from its constructor,
// variable names, where form data comes from, the status-line rule, bad input, and the end of a request.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>
#include <vector>

#include "CgiSEng.h"
#include "Files.h"
#include "HAdaptor.h"
#include "RequestTable.h"
#include "Streams.h"
#include "TempDir.h"

using namespace velmora;
namespace fs = std::filesystem;

namespace {

const char* const kCgiVariables[] = {"SERVER_SOFTWARE", "CGI_VERSION", "CONTENT_LENGTH",
                                     "CONTENT_TYPE", "QUERY_STRING", "REQUEST_METHOD",
                                     "SCRIPT_NAME", "CGI_LOG_DIR"};

class CgiEngine : public ::testing::Test {
protected:
    void SetUp() override {
        for (const char* name : kCgiVariables) ::unsetenv(name);
        // The unit start-up runs while the environment is no CGI start, so it leaves the test's
        // own standard handles alone; the test hands the engine memory streams instead.
        CgiSEngStartup();
        Dir = Temp.Path();
        ::setenv("CGI_LOG_DIR", Dir.c_str(), 1);
        ::setenv("SERVER_SOFTWARE", "TestServer/1.0", 1);
        Owner = std::make_unique<TComponent>();
    }

    void TearDown() override {
        Owner.reset();
        RequestState().CurrentEngine = nullptr;
        TCGIRequestState& st = CGIRequestState();
        st.InputStream.reset();
        st.OutputStream.reset();
        st.RequestEnvironment.reset();
        st.FormData.clear();
    }

    // Gives the next request this body and a fresh output.
    void Request(const std::string& body) {
        auto in = std::make_unique<TMemoryStream>();
        in->WriteString(body);
        in->SetPosition(0);
        auto out = std::make_unique<TMemoryStream>();
        Out = out.get();
        CGIRequestState().InputStream = std::move(in);
        CGIRequestState().OutputStream = std::move(out);
    }

    // Runs one request (when the environment is a CGI start) with the given handler.
    TCGIStdEngine* Run(TExecRequestEvent onExec, int autoReadLimit = 10000, bool autoReadInput = true,
                       bool buffered = false) {
        return new TCGIStdEngine(Owner.get(), false, NormalMode, false, buffered, false, Dir, "S",
                                 autoReadLimit, autoReadInput, "text/html", true, nullptr, nullptr,
                                 std::move(onExec), nullptr);
    }

    // Runs a request whose handler writes the value of field f and the list of names.
    std::string EchoField(const std::string& f, int autoReadLimit = 10000, bool autoReadInput = true) {
        Run([&](TObject*) {
            TCGIStdEngine* e = static_cast<TCGIStdEngine*>(CurrentEngine());
            std::string names;
            std::unique_ptr<TStringList> list = e->GetFormFieldNames();
            for (const auto& n : *list) names += n + ";";
            e->Write("<p>" + e->GetFormField(f, "(none)") + "|" + names);
        }, autoReadLimit, autoReadInput);
        return Body();
    }

    std::string Output() const { return Out->Bytes(); }
    std::string Body() const {
        const std::string& o = Out->Bytes();
        size_t p = o.find("\r\n\r\n");
        return p == std::string::npos ? o : o.substr(p + 4);
    }
    std::string Log() const {
        std::ifstream f(Dir + "/" + fs::path(fs::read_symlink("/proc/self/exe")).filename().string() + ".Log");
        std::stringstream s;
        s << f.rdbuf();
        return s.str();
    }

    velmora::test::TempDir Temp;
    std::string Dir;
    std::unique_ptr<TComponent> Owner;
    TMemoryStream* Out = nullptr;
};

TEST_F(CgiEngine, RunsTheRequestInItsConstructorWithEventsInOrder) {
    ::setenv("CONTENT_LENGTH", "11", 1);
    Request("name=Ada+Lo");
    std::vector<std::string> order;
    std::vector<TObject*> senders;
    auto* e = new TCGIStdEngine(
        Owner.get(), false, NormalMode, false, false, false, "", "S", 10000, true, "text/html",
        true, nullptr, [&](TObject* s) { order.push_back("last"); senders.push_back(s); },
        [&](TObject* s) {
            order.push_back("exec");
            senders.push_back(s);
            AdaptWrite("<b>" + AdaptGetFormField("NAME", "") + "</b>");
        },
        [&](TObject* s) { order.push_back("first"); senders.push_back(s); });
    EXPECT_EQ(order, (std::vector<std::string>{"first", "exec", "last"}));
    for (TObject* s : senders) EXPECT_EQ(s, e);
    EXPECT_EQ(CurrentEngine(), e);
    EXPECT_EQ(StdEngine.load(), e);
    EXPECT_EQ(Output(), "HTTP/1.1 200 OK\r\ncontent-type:text/html\r\n\r\n<b>Ada Lo</b>");
    // AutoTerminate off: the process goes on and the streams stay open for the application.
    EXPECT_NE(CGIRequestState().OutputStream, nullptr);
    EXPECT_NE(CGIRequestState().InputStream, nullptr);
    EXPECT_EQ(Log(), "");

    // A second request of the same engine does not raise OnFirstExecRequest again.
    order.clear();
    Request("");
    ::setenv("CONTENT_LENGTH", "0", 1);
    e->HandleRequest();
    EXPECT_EQ(order, (std::vector<std::string>{"exec", "last"}));
}

TEST_F(CgiEngine, AnswersEveryRowOfTheRequestTable) {
    for (const test::TTableRequest& r : test::RequestTable()) {
        const std::string body = r.Upload.empty() ? test::UrlEncodedBody(r) : test::MultipartBody(r, "b0undary42");
        ::setenv("REQUEST_METHOD", r.Method.c_str(), 1);
        ::setenv("QUERY_STRING", r.Query.c_str(), 1);
        ::setenv("CONTENT_LENGTH", std::to_string(body.size()).c_str(), 1);
        ::setenv("CONTENT_TYPE", r.Upload.empty() ? "application/x-www-form-urlencoded"
                                                  : "multipart/form-data; boundary=b0undary42", 1);
        Request(body);
        test::TTableAnswer answer;
        Run([&](TObject* s) { answer = test::AskEngine(*static_cast<THttpEngine*>(s), r); });
        test::ExpectTableAnswer(r, answer);
    }
}

TEST_F(CgiEngine, MapsFriendlyNamesAndReadsHandedOverEnvironments) {
    ::setenv("SCRIPT_NAME", "/cgi-bin/echo", 1);
    ::setenv("CGI_VERSION", "Win", 1);  // keeps the engine from running a request
    TCGIStdEngine* e = Run(nullptr);
    ::setenv("SERVER_SOFTWARE", "lighttpd/1.4", 1);
    for (const char* n : {"server software", "SERVER SOFTWARE", "SERVER_SOFTWARE", "Server_Software"})
        EXPECT_EQ(e->GetVariable(n), "lighttpd/1.4") << n;
    EXPECT_EQ(e->GetVariable("EXECUTABLE PATH"), "/cgi-bin/echo");
    EXPECT_EQ(e->GetVariable("executable_path"), "/cgi-bin/echo");
    EXPECT_EQ(e->GetExecutablePath(), "/cgi-bin/echo");
    EXPECT_EQ(e->GetVariable("REMOTE USER"), "");
    ::setenv("SERVER_SOFTWARE", "ZB-Server/2", 1);
    EXPECT_EQ(e->GetServerSoftware(), "");

    // A handed-over request reads its own lines, names without regard to case, values as written.
    auto env = std::make_unique<TStringList>();
    for (const char* line : {"SERVER_SOFTWARE_X=wrong", "Server_Software=Other/3 (x)",
                             "SERVER_SOFTWARE=second", "query_string=A=b&C=d", "EMPTY="})
        env->Add(line);
    CGIRequestState().RequestEnvironment = std::move(env);
    EXPECT_EQ(e->GetVariable("server software"), "Other/3 (x)");
    EXPECT_EQ(e->GetQueryString(), "A=b&C=d");
    EXPECT_EQ(e->GetVariable("EMPTY"), "");
    EXPECT_EQ(e->GetVariable("SCRIPT_NAME"), "");  // not in the list: not taken from the process
}

TEST_F(CgiEngine, TakesFormDataFromTheBodyOrElseTheQueryString) {
    ::setenv("QUERY_STRING", "q=from+query", 1);
    for (const char* len : {"", "0", "-5"}) {
        ::setenv("CONTENT_LENGTH", len, 1);
        Request("q=from+body");
        EXPECT_EQ(EchoField("q"), "<p>from query|q;") << "CONTENT_LENGTH '" << len << "'";
    }
    ::setenv("CONTENT_LENGTH", "11", 1);
    Request("q=from+body");
    EXPECT_EQ(EchoField("q"), "<p>from body|q;");

    // Reading stops at CONTENT_LENGTH, also when more input follows.
    ::setenv("CONTENT_LENGTH", "5", 1);
    Request("q=abcdef&r=1");
    EXPECT_EQ(EchoField("q"), "<p>abc|q;");

    Request("q=from+body");
    ::setenv("CONTENT_LENGTH", "11", 1);
    EXPECT_EQ(EchoField("q", 10000, false), "<p>(none)|");

    // The bare type without its semicolon is not taken for multipart.
    ::setenv("CONTENT_TYPE", "multipart/form-data", 1);
    Request("q=plain");
    ::setenv("CONTENT_LENGTH", "7", 1);
    EXPECT_EQ(EchoField("q"), "<p>plain|q;");
}

TEST_F(CgiEngine, RefusesBodiesAboveAutoReadLimitButStillAnswers) {
    const std::string body = "a=" + std::string(98, 'x');  // 100 bytes
    ::setenv("CONTENT_LENGTH", "100", 1);
    Request(body);
    EXPECT_EQ(EchoField("a", 100), "<p>" + std::string(98, 'x') + "|a;");
    EXPECT_EQ(Log(), "");
    Request(body + "y");
    ::setenv("CONTENT_LENGTH", "101", 1);
    EXPECT_EQ(EchoField("a", 100), "<p>(none)|");
    EXPECT_NE(Log().find(" : Content length exceeds AutoReadLimit\r\n"), std::string::npos) << Log();
    // Far larger than the body, and larger than any limit: refused without reading.
    ::setenv("CONTENT_LENGTH", "2000000000", 1);
    Request("a=1");
    EXPECT_EQ(EchoField("a"), "<p>(none)|");
}

TEST_F(CgiEngine, BadBodiesGiveTheirDesignedOutcomes) {
    // Not a number: a conversion error ends the request before its events; nothing is written.
    for (const char* len : {"12abc", "abc", "99999999999"}) {
        ::setenv("CONTENT_LENGTH", len, 1);
        Request("a=1");
        bool raised = false;
        Run([&](TObject*) { raised = true; });
        EXPECT_FALSE(raised) << len;
        EXPECT_EQ(Output(), "") << len;
        EXPECT_NE(Log().find("Unhandled exception : '" + std::string(len) + "' is not a valid integer value"),
                  std::string::npos)
            << Log();
    }
    // Input that ends early: what arrived is not the form; no event, a 400 answer and a log line.
    ::setenv("CONTENT_LENGTH", "5000", 1);
    Request("a=1&b=2");
    bool raised = false;
    Run([&](TObject*) { raised = true; });
    EXPECT_FALSE(raised);
    EXPECT_EQ(Output().rfind("HTTP/1.1 400 Bad Request\r\n", 0), 0u) << Output();
    EXPECT_NE(Log().find("Request body ended after 7 of 5000 announced bytes"), std::string::npos) << Log();
    // A zero byte ends the text.
    ::setenv("CONTENT_LENGTH", "13", 1);
    Request(std::string("a=1&b=2\0&c=3", 12) + "x");
    EXPECT_EQ(EchoField("c"), "<p>(none)|a;b;");
}

TEST_F(CgiEngine, DecodesMultipartBodiesAndDeletesUploadsAtTheEnd) {
    const std::string body =
        "--b0undary42\r\nContent-Disposition: form-data; name=\"text\"\r\n\r\n1+1=2, ok\r\n"
        "--b0undary42\r\nContent-Disposition: form-data; name=\"att\"; filename=\"C:\\docs\\note.txt\"\r\n"
        "Content-Type: text/plain\r\n\r\nhello\r\n--b0undary42--\r\n";
    ::setenv("CONTENT_TYPE", "multipart/form-data; boundary=b0undary42", 1);
    ::setenv("CONTENT_LENGTH", std::to_string(body.size()).c_str(), 1);
    Request(body);
    std::string upload, content;
    Run([&](TObject* sender) {
        auto* e = static_cast<TCGIStdEngine*>(sender);
        upload = e->GetFormField("att_FILENAME", "");
        std::ifstream f(upload, std::ios::binary);
        std::getline(f, content);
        e->Write("<p>" + e->GetFormField("text", "") + "|" + e->GetFormField("att", "") + "|" +
                 e->GetFormField("att_content_type", ""));
    });
    EXPECT_EQ(Body(), "<p>1+1=2, ok|C:\\docs\\note.txt| text/plain");
    EXPECT_EQ(content, "hello");
    EXPECT_EQ(fs::path(upload).parent_path(), fs::path(Dir));
    EXPECT_FALSE(fs::exists(upload)) << "upload file left behind: " << upload;
}

TEST_F(CgiEngine, LeavesOutTheStatusLineOnlyForApacheAndNetscape) {
    for (const char* sw : {"Apache/2.4.62 (Debian)", "apache", "Netscape-Enterprise/6.0", "xNETSCAPEx"}) {
        ::setenv("SERVER_SOFTWARE", sw, 1);
        Request("");
        Run(nullptr);
        EXPECT_EQ(Output(), "content-type:text/html\r\n\r\n") << sw;
    }
    for (const char* sw : {"Microsoft-IIS/5.0", "lighttpd/1.4.69", "nginx/1.22.1"}) {
        ::setenv("SERVER_SOFTWARE", sw, 1);
        Request("");
        Run([](TObject* s) { static_cast<TCGIStdEngine*>(s)->WriteLn("  <p>x"); });
        EXPECT_EQ(Output(), "HTTP/1.1 200 OK\r\ncontent-type:text/html\r\n\r\n  <p>x\r\n") << sw;
    }
}

TEST_F(CgiEngine, SendsBinaryHeadersAndBufferedAnswersToTheOutputStream) {
    Request("");
    Run([](TObject* s) {
        auto* e = static_cast<TCGIStdEngine*>(s);
        e->WriteHeader("X-One", "1");
        e->EndHeaders();
        e->WriteBuffer("\x01\x02", 2);
    });
    // The blank line from EndHeaders starts the automatic header after the application's line.
    EXPECT_EQ(Output(), std::string("HTTP/1.1 200 OK\r\nX-One:1\r\ncontent-type:text/html\r\n\r\n\r\n\x01\x02"));

    Request("");
    Run([](TObject* s) { static_cast<TCGIStdEngine*>(s)->Write("<p>12345"); }, 10000, true, true);
    EXPECT_EQ(Output(), "HTTP/1.1 200 OK\r\ncontent-type:text/html\r\ncontent-length:8\r\n\r\n<p>12345");
}

TEST_F(CgiEngine, DoesNothingUnderWindowsCgiOrWithoutServerSoftware) {
    for (const char* v : {"CGI/1.3a (Win)", "win", "WIN32", "xwInx"}) {
        ::setenv("CGI_VERSION", v, 1);
        Request("");
        bool raised = false;
        TCGIStdEngine* e = Run([&](TObject*) { raised = true; });
        EXPECT_FALSE(e->IsActive()) << v;
        EXPECT_FALSE(raised) << v;
        EXPECT_EQ(CurrentEngine(), nullptr) << v;
        EXPECT_EQ(Output(), "") << v;
    }
    ::setenv("CGI_VERSION", "CGI/1.1", 1);
    ::unsetenv("SERVER_SOFTWARE");
    Request("");
    TCGIStdEngine* e = Run(nullptr);
    EXPECT_FALSE(e->IsActive());
    EXPECT_EQ(CurrentEngine(), nullptr);
    ::setenv("SERVER_SOFTWARE", "x", 1);
    EXPECT_TRUE(e->IsActive());
}

TEST_F(CgiEngine, ReadClientStopsAtCountOrEndOfInput) {
    ::setenv("CGI_VERSION", "Win", 1);
    TCGIStdEngine* e = Run(nullptr);
    char buf[16] = {};
    EXPECT_EQ(e->ReadClient(buf, 4), 0);  // no input stream
    Request("abcdefg");
    EXPECT_EQ(e->ReadClient(buf, 4), 4);
    EXPECT_EQ(std::string(buf, 4), "abcd");
    EXPECT_EQ(e->ReadClient(buf, 16), 3);
    EXPECT_EQ(e->ReadClient(buf, 16), 0);
    EXPECT_EQ(e->ReadClient(buf, -1), 0);
}

TEST_F(CgiEngine, GivesTheRequestThreadOfTheCallingThread) {
    ::setenv("CGI_VERSION", "Win", 1);
    TCGIStdEngine* e = Run(nullptr);
    EXPECT_EQ(e->GetRequestThread(), nullptr);
    auto* marker = reinterpret_cast<TThread*>(&Dir);
    CGIRequestState().CurrentRequestThread = marker;
    EXPECT_EQ(e->GetRequestThread(), marker);
    TThread* seen = marker;
    std::thread([&] { seen = e->GetRequestThread(); }).join();
    EXPECT_EQ(seen, nullptr);
    CGIRequestState().CurrentRequestThread = nullptr;
}

// With AutoTerminate the request's end closes the streams and ends the process with exit code 0.
TEST_F(CgiEngine, EndsTheProcessAfterTheRequestWithAutoTerminate) {
    const std::string outFile = Dir + "/answer";
    auto request = [&] {
        CGIRequestState().OutputStream = std::make_unique<TFileStream>(outFile, fmCreate);
        CGIRequestState().InputStream = std::make_unique<TMemoryStream>();
        new TCGIStdEngine(Owner.get(), false, NormalMode, true, false, false, "", "S", 10000,
                          true, "text/html", true, nullptr, nullptr,
                          [](TObject* s) { static_cast<TCGIStdEngine*>(s)->Write("<p>done"); },
                          nullptr);
        std::fprintf(stderr, "constructor returned\n");
        std::_Exit(3);
    };
    EXPECT_EXIT(request(), ::testing::ExitedWithCode(0), "^$");
    std::ifstream f(outFile, std::ios::binary);
    std::stringstream s;
    s << f.rdbuf();
    EXPECT_EQ(s.str(), "HTTP/1.1 200 OK\r\ncontent-type:text/html\r\n\r\n<p>done");
}

}  // namespace
