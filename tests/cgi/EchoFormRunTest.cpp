// The echo-form example run as a web server would run it, with crafted environments and bodies:
// well-formed requests and every kind of bad input end in time with the designed answer.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "ChildProcess.h"
#include "TempDir.h"
#include "WebServer.h"

using namespace velmora::test;
namespace fs = std::filesystem;

namespace {

const std::string kProgram = VELMORA_BINARY_DIR "/examples/echoform/echoform";
const std::string kHeader = "HTTP/1.1 200 OK\r\ncontent-type:text/html\r\n\r\n";

class EchoFormRun : public ::testing::Test {
protected:
    TempDir Temp;
    const std::string LogDir = Temp.Path();

    // Runs the program once with SERVER_SOFTWARE, the log folder and the given variables.
    TChildResult Run(std::vector<std::string> env, const std::string& body = "",
                     std::vector<std::string> args = {}) {
        TChildRun run;
        run.Args = {kProgram};
        run.Args.insert(run.Args.end(), args.begin(), args.end());
        run.Env = {"CGI_LOG_DIR=" + LogDir, "PATH=/usr/bin:/bin"};
        run.Env.insert(run.Env.end(), env.begin(), env.end());
        run.Input = body;
        run.TimeoutMs = 20000;
        TChildResult r = RunChild(run);
        EXPECT_TRUE(r.Started);
        EXPECT_FALSE(r.TimedOut) << "the program hung";
        EXPECT_EQ(r.Signal, 0) << r.Err;
        EXPECT_EQ(r.ExitCode, 0) << r.Err;
        return r;
    }

    std::string Log() const { return ReadWholeFile(LogDir + "/echoform.Log"); }
};

std::vector<std::string> Post(const std::string& length, const std::string& server = "TestServer/1.0") {
    return {"SERVER_SOFTWARE=" + server, "REQUEST_METHOD=POST", "CONTENT_LENGTH=" + length,
            "CONTENT_TYPE=application/x-www-form-urlencoded", "QUERY_STRING=q=from+query",
            "SCRIPT_NAME=/cgi-bin/echoform"};
}

bool Has(const std::string& page, const std::string& name, const std::string& value) {
    return page.find("<tr><td>" + name + "</td><td>" + value + "</td></tr>") != std::string::npos;
}

TEST_F(EchoFormRun, AnswersGetAndPostRequests) {
    TChildResult r = Run({"SERVER_SOFTWARE=TestServer/1.0", "REQUEST_METHOD=GET",
                          "QUERY_STRING=name=Ada+L%3Cx%3E&n=1&n=2", "CONTENT_LENGTH=0",
                          "SCRIPT_NAME=/cgi-bin/echoform", "REMOTE_ADDR=127.0.0.1"});
    ASSERT_EQ(r.Out.rfind(kHeader + "<html>", 0), 0u) << r.Out;
    EXPECT_TRUE(Has(r.Out, "name", "Ada L&lt;x&gt;")) << r.Out;
    EXPECT_TRUE(Has(r.Out, "n", "1\r\n2")) << r.Out;
    EXPECT_TRUE(Has(r.Out, "SERVER_SOFTWARE", "TestServer/1.0"));
    EXPECT_TRUE(Has(r.Out, "REMOTE_ADDR", "127.0.0.1"));
    EXPECT_TRUE(Has(r.Out, "SCRIPT_NAME", "/cgi-bin/echoform"));
    EXPECT_EQ(r.Out.substr(r.Out.size() - 16), "</body></html>\r\n");
    EXPECT_EQ(Log(), "");

    // Without fields the page offers a form that posts back to the program.
    r = Run({"SERVER_SOFTWARE=TestServer/1.0", "REQUEST_METHOD=GET", "SCRIPT_NAME=/cgi-bin/echoform"});
    EXPECT_NE(r.Out.find("action=\"/cgi-bin/echoform\""), std::string::npos) << r.Out;

    // A body wins over the query string; under Apache there is no status line.
    r = Run(Post("9", "Apache/2.4.62 (Debian)"), "a=1&b=%41");
    ASSERT_EQ(r.Out.rfind("content-type:text/html\r\n\r\n<html>", 0), 0u) << r.Out;
    EXPECT_TRUE(Has(r.Out, "a", "1"));
    EXPECT_TRUE(Has(r.Out, "b", "A"));
    EXPECT_FALSE(Has(r.Out, "q", "from query"));
}

TEST_F(EchoFormRun, BadContentLengthsEndInTime) {
    // Not a number: the request fails before its events, with one log line and no answer.
    for (const std::string len : {"abc", "12x", "99999999999"}) {
        TChildResult r = Run(Post(len), "a=1");
        EXPECT_EQ(r.Out, "") << len;
    }
    EXPECT_NE(Log().find(" : Unhandled exception : 'abc' is not a valid integer value\r\n"), std::string::npos)
        << Log();

    // Negative: no body; the form data comes from the query string.
    TChildResult r = Run(Post("-5"), "a=1");
    EXPECT_TRUE(Has(r.Out, "q", "from query")) << r.Out;
    EXPECT_FALSE(Has(r.Out, "a", "1"));


    // Above AutoReadLimit: one log line, the body is not read, the answer still comes.
    fs::remove(LogDir + "/echoform.Log");
    r = Run(Post("10001"), "a=" + std::string(9999, 'x'));
    EXPECT_EQ(r.Out.rfind(kHeader, 0), 0u);
    EXPECT_FALSE(Has(r.Out, "a", std::string(9999, 'x')));
    EXPECT_NE(r.Out.find("</body></html>"), std::string::npos);
    EXPECT_NE(Log().find(" : Content length exceeds AutoReadLimit\r\n"), std::string::npos) << Log();

    // A body far beyond the pipe's buffer that the program does not read is still taken in full
    // before it ends, so the web server writing it never hits a broken pipe.
    const std::string big = "a=" + std::string(400000, 'x');
    r = Run(Post(std::to_string(big.size())), big);
    EXPECT_NE(r.Out.find("</body></html>"), std::string::npos);
    EXPECT_EQ(r.InputWritten, big.size());
}

TEST_F(EchoFormRun, ShortBodiesAreRefusedAndZeroBytesEndTheFormData) {
    // Input that ends before the announced length (a client that gave up, or far less than
    // announced): no form runs on what arrived; 400, one log line, without waiting for more.
    for (const auto& [length, body] : std::vector<std::pair<std::string, std::string>>{
             {"30", "name=abcd"}, {"30", ""}, {"9000", "a=1&b=22"}}) {
        TChildResult r = Run(Post(length), body);
        EXPECT_EQ(r.Out.rfind("HTTP/1.1 400 Bad Request\r\n", 0), 0u) << r.Out;
        EXPECT_FALSE(Has(r.Out, "name", "abcd")) << r.Out;
        EXPECT_EQ(r.Out.find("Form fields"), std::string::npos) << r.Out;
        EXPECT_NE(Log().find(" : Unhandled exception : Request body ended after " + std::to_string(body.size()) + " of " +
                             length + " announced bytes"),
                  std::string::npos)
            << Log();
    }

    // A zero byte ends the form data.
    TChildResult r = Run(Post("12"), std::string("a=1&b=2\0&c=3", 12));
    EXPECT_TRUE(Has(r.Out, "a", "1")) << r.Out;
    EXPECT_TRUE(Has(r.Out, "b", "2"));
    EXPECT_EQ(r.Out.find("<td>c</td>"), std::string::npos);
}

TEST_F(EchoFormRun, AnswersProfileRequests) {
    const std::string out = LogDir + "/answer.out", profile = LogDir + "/request.ini";
    std::ofstream(profile, std::ios::binary)
        << "[CGI]\r\nRequest Method=POST\r\nExecutable Path=/cgi-win/echoform\r\n[System]\r\nOutput File="
        << out << "\r\n[Form Literal]\r\nName=Ada <L>\r\nPick=a\r\nPick_1=b\r\n";
    for (const std::vector<std::string>& env :
         {std::vector<std::string>{}, {"SERVER_SOFTWARE=TestServer/1.0", "CGI_VERSION=CGI/1.3a (wIn)"}}) {
        TChildResult r = Run(env, "", {profile});
        EXPECT_EQ(r.Out, "");
        const std::string page = ReadWholeFile(out);
        EXPECT_EQ(page.rfind("content-type:text/html\r\n\r\n<html>", 0), 0u) << page;
        EXPECT_TRUE(Has(page, "NAME", "Ada &lt;L&gt;")) << page;
        EXPECT_TRUE(Has(page, "PICK", "a\r\nb"));
        EXPECT_TRUE(Has(page, "SCRIPT_NAME", "/cgi-win/echoform"));
        fs::remove(out);
    }
    EXPECT_EQ(Log(), "");

    // Without a profile (started by hand, or by a profile-file server with no parameter) the
    // program is the resident server: the resident tests run that.
}

}  // namespace
