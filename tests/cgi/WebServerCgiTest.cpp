// The echo-form example behind real web servers (lighttpd with mod_cgi, apache2 with mod_cgid),
// driven with curl: query strings, url-encoded and multipart posts, an oversized body, server names.
#include <gtest/gtest.h>

#include <cctype>
#include <filesystem>
#include <fstream>

#include "WebServer.h"

using namespace velmora::test;
namespace fs = std::filesystem;

namespace {

const std::string kProgram = VELMORA_BINARY_DIR "/examples/echoform/echoform";

bool Has(const std::string& page, const std::string& name, const std::string& value) {
    return page.find("<tr><td>" + name + "</td><td>" + value + "</td></tr>") != std::string::npos;
}

// The answer must be complete: a 200 with an HTML body that runs to the page's end. Callers wrap
// it in ASSERT_NO_FATAL_FAILURE, so a missing header block ends the test, not just this check.
void ExpectWholePage(const std::string& answer) {
    EXPECT_EQ(answer.rfind("HTTP/1.1 200 OK\r\n", 0), 0u) << answer;
    const size_t body = answer.find("\r\n\r\n");
    ASSERT_NE(body, std::string::npos) << answer;
    std::string headers = answer.substr(0, body);
    for (char& c : headers) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    const size_t type = headers.find("\r\ncontent-type:");
    ASSERT_NE(type, std::string::npos) << answer;
    EXPECT_EQ(headers.find_first_not_of(' ', type + 15), headers.find("text/html", type)) << answer;
    EXPECT_EQ(answer.substr(body + 4, 6), "<html>") << answer;
    EXPECT_EQ(answer.substr(answer.size() - 16), "</body></html>\r\n");
}

void AnswersRealRequests(TServerKind kind, const std::string& softwarePrefix) {
    std::string why;
    std::unique_ptr<TWebServer> server = TWebServer::Start(kind, kProgram, why);
    ASSERT_NE(server, nullptr) << why;
    const std::string url = server->BaseUrl() + "/cgi-bin/echoform";
    const std::string log = server->CgiBin() + "/Log/echoform.Log";

    // GET with a query string; the server names itself in SERVER_SOFTWARE.
    std::string a = Curl({url + "?city=K%C3%B6ln&x=a+b"});
    ASSERT_NO_FATAL_FAILURE(ExpectWholePage(a));
    EXPECT_TRUE(Has(a, "city", "K\xC3\xB6ln")) << a;
    EXPECT_TRUE(Has(a, "x", "a b"));
    EXPECT_TRUE(Has(a, "REQUEST_METHOD", "GET"));
    EXPECT_NE(a.find("<tr><td>SERVER_SOFTWARE</td><td>" + softwarePrefix), std::string::npos) << a;

    // Url-encoded POST: the body is the form, not the query string.
    a = Curl({"--data", "name=Ada+Lovelace&note=1%2B1%3D2", url + "?q=ignored"});
    ASSERT_NO_FATAL_FAILURE(ExpectWholePage(a));
    EXPECT_TRUE(Has(a, "name", "Ada Lovelace")) << a;
    EXPECT_TRUE(Has(a, "note", "1+1=2"));
    EXPECT_FALSE(Has(a, "q", "ignored"));

    // Multipart POST with a file: fields, the upload's name, type, size and content.
    const std::string file = server->Folder() + "/note.txt";
    std::ofstream(file, std::ios::binary) << "hello from a file\n";
    a = Curl({"-F", "text=abc def", "-F", "file=@" + file + ";type=text/plain", url});
    ASSERT_NO_FATAL_FAILURE(ExpectWholePage(a));
    EXPECT_TRUE(Has(a, "text", "abc def")) << a;
    EXPECT_TRUE(Has(a, "file", "note.txt")) << a;
    EXPECT_TRUE(Has(a, "file type", " text/plain"));
    EXPECT_TRUE(Has(a, "file size", "18"));
    EXPECT_TRUE(Has(a, "file starts", "hello from a file\n"));
    // The upload file lived for the request only.
    for (const auto& entry : fs::directory_iterator(server->CgiBin()))
        EXPECT_NE(entry.path().extension(), ".tmp") << entry.path();

    // A body above AutoReadLimit (10000): logged, not read, and the page still comes.
    EXPECT_FALSE(fs::exists(log));
    a = Curl({"--data", "big=" + std::string(12000, 'x'), url});
    ASSERT_NO_FATAL_FAILURE(ExpectWholePage(a));
    EXPECT_FALSE(Has(a, "big", std::string(12000, 'x')));
    EXPECT_TRUE(Has(a, "CONTENT_LENGTH", "12004"));
    EXPECT_NE(ReadWholeFile(log).find(" : Content length exceeds AutoReadLimit\r\n"), std::string::npos)
        << ReadWholeFile(log) << ReadWholeFile(server->ErrorLog());
}

TEST(WebServerCgi, LighttpdRunsTheExample) { AnswersRealRequests(TServerKind::Lighttpd, "lighttpd/"); }

TEST(WebServerCgi, ApacheRunsTheExample) { AnswersRealRequests(TServerKind::Apache, "Apache/"); }

}  // namespace
