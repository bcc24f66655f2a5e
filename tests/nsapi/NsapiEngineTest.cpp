// The NSAPI engine inside a program library, served by a host through a stand-in server library
// that is found by its server names on the library search path: binding, request values, the
// header block, bodies, failures, and many server threads at once; then velmora itself, mailing
// through a real SMTP server.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <set>
#include <thread>

#include "AltchaPeer.h"
#include "ChildProcess.h"
#include "RequestTable.h"
#include "SettingsFile.h"
#include "SiteSettings.h"
#include "SmtpSink.h"
#include "TempDir.h"

using namespace velmora;
using namespace velmora::test;
namespace fs = std::filesystem;

namespace {

struct TAnswer {
    int Rc = 0;
    int Sends = 0;
    std::string Text;
};

struct THostResult {
    std::vector<TAnswer> Answers;  // in the order of the requests, repeated
    std::string Calls;             // "plain=N internal=M"
};

class NsapiHostTest : public ::testing::Test {
protected:
    void SetUp() override {
        fs::create_directories(Lib());
        fs::create_directories(Log());
    }

    std::string Lib() const { return dir.Path() + "/lib"; }
    std::string Log() const { return dir.Path() + "/log"; }

    // Installs a stub variant under a server library name on the host's search path.
    std::string Install(const char* variant, const std::string& name) {
        std::string path = Lib() + "/" + name;
        fs::copy_file(variant, path, fs::copy_options::overwrite_existing);
        return path;
    }

    std::string RequestFile(const std::string& raw) {
        std::string path = dir.Path() + "/request" + std::to_string(++files);
        std::ofstream(path, std::ios::binary) << raw;
        return path;
    }

    std::string LogText() const {
        std::string all;
        for (const auto& e : fs::directory_iterator(Log())) {
            std::ifstream in(e.path(), std::ios::binary);
            all += std::string(std::istreambuf_iterator<char>(in), {});
        }
        return all;
    }

    THostResult Run(const std::string& server, const std::vector<std::string>& requests,
                    std::vector<std::string> options = {}, std::vector<std::string> env = {}) {
        TChildRun run;
        run.Args = {NSAPI_HOST, "--server", server};
        run.Args.insert(run.Args.end(), options.begin(), options.end());
        run.Args.insert(run.Args.end(), {module, "NsapiService"});
        for (const auto& raw : requests) run.Args.push_back(RequestFile(raw));
        run.Env = {"LD_LIBRARY_PATH=" + Lib(), "CGI_LOG_DIR=" + Log(), "TMPDIR=" + dir.Path(),
                   "PATH=/usr/bin:/bin"};
        run.Env.insert(run.Env.end(), env.begin(), env.end());
        TChildResult r = RunChild(run);
        EXPECT_EQ(r.ExitCode, 0) << r.Err;
        return Parse(r.Out);
    }

    static THostResult Parse(const std::string& out) {
        THostResult result;
        size_t pos = 0;
        while (out.compare(pos, 4, "=== ") == 0) {
            size_t eol = out.find('\n', pos);
            TAnswer a;
            unsigned long len = 0;
            int file = 0;
            std::sscanf(out.c_str() + pos, "=== %d rc=%d sends=%d len=%lu", &file, &a.Rc, &a.Sends, &len);
            a.Text = out.substr(eol + 1, len);
            result.Answers.push_back(a);
            pos = eol + 1 + len + 1;
        }
        if (out.compare(pos, 6, "calls ") == 0) result.Calls = out.substr(pos + 6, out.find('\n', pos) - pos - 6);
        return result;
    }

    TempDir dir;
    int files = 0;
    std::string module = NSAPI_TEST_MODULE;
};

const std::string Get = "GET /form?a=1&b=x%20y HTTP/1.0\r\nUser-Agent: tester\r\n\r\n";

// Only one server library, and the engine's names in one of the three export forms: each is
// found by its name, and plain names win over "INT" names where both exist.
TEST_F(NsapiHostTest, BindsTheServerLibraryInEachExportForm) {
    struct {
        const char* Variant;
        const char* Name;
        const char* Calls;  // which form served
    } cases[] = {{NSSTUB_INTERNAL, "libns-httpd40.so", "plain=0"},
                 {NSSTUB_PLAIN, "libns-httpd20.so", "internal=0"},
                 {NSSTUB_BOTH, "libns-httpd50.so", "internal=0"}};
    for (const auto& c : cases) {
        fs::remove_all(Lib());
        fs::create_directories(Lib());
        THostResult r = Run(Install(c.Variant, c.Name), {Get});
        ASSERT_EQ(r.Answers.size(), 1u) << c.Name;
        EXPECT_EQ(r.Answers[0].Rc, 0) << c.Name;
        EXPECT_NE(r.Answers[0].Text.find("method=GET\n"), std::string::npos) << c.Name << r.Answers[0].Text;
        EXPECT_NE(r.Calls.find(c.Calls), std::string::npos) << c.Name << " " << r.Calls;
    }
}

TEST_F(NsapiHostTest, ServesRequestsThroughTheServerStructures) {
    std::string urlencoded = "name=Ann&msg=hello+there";
    std::string binary("GIF89a\0\0\x01\x02\0\xff\0", 13);
    std::string multipart = "--XyZ\r\nContent-Disposition: form-data; name=\"note\"\r\n\r\nhi\r\n"
                            "--XyZ\r\nContent-Disposition: form-data; name=\"pic\"; filename=\"a.gif\"\r\n"
                            "Content-Type: image/gif\r\n\r\n" + binary + "\r\n--XyZ--\r\n";
    auto post = [](const std::string& type, const std::string& body) {
        return "POST /form?ignored=1 HTTP/1.1\r\nContent-Type: " + type + "\r\nContent-Length: " +
               std::to_string(body.size()) + "\r\n\r\n" + body;
    };
    THostResult r = Run(Install(NSSTUB_INTERNAL, "libns-httpd40.so"),
                        {Get, "HEAD /form?a=1 HTTP/1.1\r\n\r\n",
                         post("application/x-www-form-urlencoded", urlencoded),
                         post("application/x-www-form-urlencoded", std::string(400, 'x')),
                         post("multipart/form-data; boundary=XyZ", multipart), "GET /form?status HTTP/1.0\r\n\r\n"},
                        {"--chunk", "5"});
    ASSERT_EQ(r.Answers.size(), 6u);
    for (const auto& a : r.Answers) {
        EXPECT_EQ(a.Rc, 0);
        EXPECT_EQ(a.Sends, 1) << a.Text;
    }
    const std::string& get = r.Answers[0].Text;
    EXPECT_EQ(get.rfind("HTTP/1.1 200\r\nx-twice: second\r\ncontent-type: text/html\r\n\r\n<pre>\n", 0), 0u) << get;
    for (const char* line : {"protocol=HTTP/1.0\n", "script=/form\n", "scriptvar=/form\n", "query=a=1&b=x%20y\n",
                             "remote=127.0.0.1 client.example\n", "agent=tester\n", "path=/srv/form\n",
                             "fn=stub-service\n", "field a=1\n", "field b=x y\n"})
        EXPECT_NE(get.find(line), std::string::npos) << line << get;
    // HEAD: the header block only, no body.
    EXPECT_EQ(r.Answers[1].Text, "HTTP/1.1 200\r\nx-twice: second\r\ncontent-type: text/html\r\n\r\n");
    // A body read across many buffer fills; the query is not part of posted data.
    const std::string& form = r.Answers[2].Text;
    EXPECT_NE(form.find("length=24\n"), std::string::npos) << form;
    EXPECT_NE(form.find("count=3\nfield name=Ann\nfield msg=hello there\n</pre>"), std::string::npos) << form;
    // Above AutoReadLimit: logged, no fields, the handler still answers.
    EXPECT_NE(r.Answers[3].Text.find("method=POST\n"), std::string::npos);
    EXPECT_EQ(r.Answers[3].Text.find("field "), std::string::npos) << r.Answers[3].Text;
    EXPECT_NE(LogText().find("Content length exceeds AutoReadLimit"), std::string::npos) << LogText();
    // Zero bytes of an upload are data, not the end of the body.
    const std::string& upload = r.Answers[4].Text;
    EXPECT_NE(upload.find("field note=hi\n"), std::string::npos) << upload;
    EXPECT_NE(upload.find("field pic_FILENAME=13\n"), std::string::npos) << upload;
    // A status the request set reaches the server.
    EXPECT_EQ(r.Answers[5].Text.rfind("HTTP/1.1 413\r\n", 0), 0u) << r.Answers[5].Text;
}

// Requests on eight server threads at once each get their own answer; the server's critical
// section guards the count, so every number comes once. Buffered, the answer carries its length.
TEST_F(NsapiHostTest, ManyServerThreadsEachGetTheirOwnAnswer) {
    std::vector<std::string> requests;
    for (int k = 0; k < 4; ++k) requests.push_back("GET /form?id=" + std::to_string(k) + " HTTP/1.0\r\n\r\n");
    THostResult r = Run(Install(NSSTUB_BOTH, "libns-httpd40.so"), requests,
                        {"--threads", "8", "--repeat", "25"}, {"NSTEST_BUFFERED=1"});
    ASSERT_EQ(r.Answers.size(), 100u);
    std::set<std::string> counts;
    for (size_t i = 0; i < r.Answers.size(); ++i) {
        const std::string& text = r.Answers[i].Text;
        EXPECT_NE(text.find("query=id=" + std::to_string(i % 4) + "\n"), std::string::npos) << text;
        size_t body = text.find("\r\n\r\n") + 4;
        EXPECT_NE(text.find("content-length: " + std::to_string(text.size() - body) + "\r\n"), std::string::npos)
            << text;
        size_t c = text.find("count=");
        counts.insert(text.substr(c + 6, text.find('\n', c) - c - 6));
    }
    EXPECT_EQ(counts.size(), 100u);
    EXPECT_TRUE(counts.count("1") && counts.count("100"));
}

// No server library at first: the request is refused and logged, never served half; once the
// library can be found, the next request binds it and is served.
TEST_F(NsapiHostTest, MissingServerLibraryAbortsUntilItAppears) {
    fs::create_directories(dir.Path() + "/elsewhere");
    std::string hidden = dir.Path() + "/elsewhere/server.so";
    fs::copy_file(NSSTUB_INTERNAL, hidden);
    THostResult r = Run(hidden, {Get, Get}, {"--link-after-first", Lib() + "/libns-httpd30.so"});
    ASSERT_EQ(r.Answers.size(), 2u);
    EXPECT_EQ(r.Answers[0].Rc, -1);
    EXPECT_EQ(r.Answers[0].Text, "");
    EXPECT_NE(LogText().find("is not bound"), std::string::npos) << LogText();
    EXPECT_EQ(r.Answers[1].Rc, 0);
    EXPECT_NE(r.Answers[1].Text.find("method=GET\n"), std::string::npos) << r.Answers[1].Text;
}

// The shared request table through the server's structures: the fields, repeated names, the
// query of a post left out, and an upload, as every other engine answers them.
TEST_F(NsapiHostTest, AnswersEveryRowOfTheRequestTable) {
    const std::vector<TTableRequest>& rows = RequestTable();
    std::vector<std::string> requests;
    for (size_t i = 0; i < rows.size(); ++i) {
        const TTableRequest& r = rows[i];
        const std::string body = r.Upload.empty() ? UrlEncodedBody(r) : MultipartBody(r, "b0undary42");
        const std::string type = r.Upload.empty() ? "application/x-www-form-urlencoded" : "multipart/form-data; boundary=b0undary42";
        requests.push_back(r.Method + " /table/" + std::to_string(i) + (r.Query.empty() ? "" : "?" + r.Query) +
                           " HTTP/1.1\r\nContent-Type: " + type + "\r\nContent-Length: " + std::to_string(body.size()) +
                           "\r\n\r\n" + body);
    }
    THostResult result = Run(Install(NSSTUB_INTERNAL, "libns-httpd40.so"), requests, {"--chunk", "7"});
    ASSERT_EQ(result.Answers.size(), rows.size());
    for (size_t i = 0; i < rows.size(); ++i) {
        const std::string& text = result.Answers[i].Text;
        size_t pos = text.find("\r\n\r\n<row>");
        ASSERT_NE(pos, std::string::npos) << text;
        pos += 9;
        auto take = [&] {
            const size_t colon = text.find(':', pos);
            const size_t length = colon == std::string::npos ? 0 : std::stoul(text.substr(pos, colon - pos));
            std::string item = colon == std::string::npos ? "" : text.substr(colon + 1, length);
            pos = colon == std::string::npos ? text.size() : colon + 1 + length;
            return item;
        };
        TTableAnswer answer;
        for (const auto& want : rows[i].Want) answer.Values.emplace_back(want.first, take());
        for (size_t n = std::stoul("0" + take()); n > 0; --n) answer.Names.push_back(take());
        answer.UploadContent = take();
        ExpectTableAnswer(rows[i], answer);
    }
}

// velmora as the server's library, four server threads at once: twenty posts each thanked, counted
// and mailed with its own field; a post to a recipient the allowed list lacks is refused, unmailed.
TEST_F(NsapiHostTest, VelmoraThanksCountsAndMailsConcurrentPosts) {
    SmtpSink sink;
    const std::string site = dir.Path() + "/site";
    fs::create_directories(site);
    module = site + "/libvelmora.so";
    fs::copy_file(VELMORA_LIBRARY, module);
    TMailSettings s = test::SiteMailSettings(sink.Port());
    WriteSettingsFile(site + "/VELMORA.INI", s);
    std::ofstream(site + "/VELMORA.ALL") << "webmaster@example.org\r\n";

    std::vector<std::string> posts;
    for (int i = 0; i <= 20; ++i) {
        std::string body = i < 20 ? "Post=" + std::to_string(i) : "mailto=stranger%40spam.example";
        posts.push_back("POST /velmora HTTP/1.1\r\nContent-Type: application/x-www-form-urlencoded\r\n"
                        "Content-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body);
    }
    THostResult r = Run(Install(NSSTUB_INTERNAL, "libns-httpd40.so"), posts, {"--threads", "4"});
    ASSERT_EQ(r.Answers.size(), 21u);
    for (size_t i = 0; i < r.Answers.size(); ++i) {
        const TAnswer& a = r.Answers[i];
        EXPECT_EQ(a.Rc, 0);
        EXPECT_EQ(a.Sends, 1) << a.Text;
        const bool thanked = a.Text.find("We received your message.") != std::string::npos;
        const bool refused = a.Text.find("Destination EMail-Adress not allowed.") != std::string::npos;
        EXPECT_EQ(thanked, i < 20) << a.Text;
        EXPECT_EQ(refused, i == 20) << a.Text;
    }
    EXPECT_EQ(ReadSettingsFile(site + "/VELMORA.INI")->Counter(), 21);

    for (int wait = 0; sink.MessageCount() < 20 && wait < 200; ++wait)
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    std::this_thread::sleep_for(std::chrono::milliseconds(200));  // a stray 21st mail would show now
    ASSERT_EQ(sink.MessageCount(), 20);
    std::set<std::string> fields;
    for (int n = 1; n <= 20; ++n) {
        std::string mail = ReadFileBytes(sink.Message(n));
        size_t at = mail.find("Post:");
        ASSERT_NE(at, std::string::npos) << mail;
        fields.insert(mail.substr(at, mail.find('\r', at) - at));
    }
    EXPECT_EQ(fields.size(), 20u);
}

// velmora as the server's library with proof-of-work challenges: the challenge GET answers JSON,
// altcha-lib's solution is mailed once (a later host run, the used challenge kept in the site's
// file), its replay and a post without one refused unmailed.
TEST_F(NsapiHostTest, VelmoraServesAltchaChallengesAndChecksPosts) {
    std::string why;
    ASSERT_TRUE(InstallAltchaPeers(VELMORA_SOURCE_DIR, ALTCHA_PEERS_DIR, why)) << why;
    SmtpSink sink;
    const std::string site = dir.Path() + "/site";
    fs::create_directories(site);
    module = site + "/libvelmora.so";
    fs::copy_file(VELMORA_LIBRARY, module);
    WriteSettingsFile(site + "/VELMORA.INI", test::SiteMailSettings(sink.Port()));
    std::ofstream(site + "/VELMORA.ALL") << "webmaster@example.org\r\n";
    std::ofstream(site + "/VELMORA.CONF") << "altcha = required\naltcha_hmac_key = nsapi-engine-altcha-key\n";
    fs::permissions(site + "/VELMORA.CONF", fs::perms::owner_read | fs::perms::owner_write);
    const std::string server = Install(NSSTUB_INTERNAL, "libns-httpd40.so");

    THostResult got = Run(server, {"GET /velmora?altcha HTTP/1.1\r\n\r\n"});
    ASSERT_EQ(got.Answers.size(), 1u);
    const std::string& challenge = got.Answers[0].Text;
    ASSERT_NE(challenge.find("application/json"), std::string::npos) << challenge;
    EXPECT_NE(challenge.find("no-store"), std::string::npos) << challenge;
    const std::string payload =
        AltchaPeer(VELMORA_SOURCE_DIR, ALTCHA_PEERS_DIR, {"solve"}, challenge.substr(challenge.find("\r\n\r\n") + 4));
    auto post = [](const std::string& body) {
        return "POST /velmora HTTP/1.1\r\nContent-Type: application/x-www-form-urlencoded\r\nContent-Length: " +
               std::to_string(body.size()) + "\r\n\r\n" + body;
    };
    const std::string solved = post("Name=Ann&altcha=" + PercentEncodeAll(payload));
    THostResult r = Run(server, {solved, solved, post("Name=Robot")});
    ASSERT_EQ(r.Answers.size(), 3u);
    EXPECT_NE(r.Answers[0].Text.find("We received your message."), std::string::npos) << r.Answers[0].Text;
    for (size_t i = 1; i < 3; ++i) EXPECT_EQ(r.Answers[i].Text.find("We received your message."), std::string::npos) << i;
    const std::string log = LogText();
    EXPECT_NE(log.find("spam: altcha replayed"), std::string::npos) << log;
    EXPECT_NE(log.find("spam: altcha missing"), std::string::npos) << log;
    for (int wait = 0; sink.MessageCount() < 1 && wait < 200; ++wait)
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    EXPECT_EQ(sink.MessageCount(), 1);
}

}  // namespace
