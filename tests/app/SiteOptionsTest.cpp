// The options a site switches on in VELMORA.CONF, through lighttpd and the real relay: what a
// crawler, a robot, a script of another site and a flood of posts get, and what the mail carries.
#include <gtest/gtest.h>

#include <unistd.h>

#include <future>
#include <random>
#include <regex>

#include "ChildProcess.h"
#include "SettingsFile.h"
#include "SiteFixture.h"
#include "SyslogListener.h"
#include "TempDir.h"

using namespace velmora;
using namespace velmora::test;

namespace {

class SiteOptions : public SiteFixture {
protected:
    // Runs the mail checker (Python's email package) on delivered mail n.
    void Check(int n, std::vector<std::string> args) {
        args.insert(args.begin(), {VELMORA_SOURCE_DIR "/tests/support/check_mail.py", site->Smtp().Message(n)});
        std::string output;
        EXPECT_EQ(RunPython(args, output), 0) << output;
    }
};

}  // namespace

TEST_F(SiteOptions, OnlyPostsFromPeopleAreMailedWithCleanHeaders) {
    Conf("post_only = yes\nreplyto_field = email\nhoneypot_field = website\nmail_charset = auto\n");
    HttpAnswer get = site->Curl({}, site->ProgramUrl() + "?A=1");
    EXPECT_EQ(get.Status, 405);
    EXPECT_NE(get.Headers.find("Allow: POST"), std::string::npos) << get.Headers;

    // A robot fills the hidden field: thanked like anyone, but not mailed.
    HttpAnswer robot = site->Post("A=1&website=http%3A%2F%2Fspam.example");
    EXPECT_NE(robot.Body.find("We received your message."), std::string::npos) << robot.Body;
    EXPECT_TRUE(Logged("filled the hidden field website")) << site->Log();

    // A Reply-To that tries to add a header is left out; a plain address is taken.
    site->Post("A=1&email=a%40example.org%0D%0ABcc%3A+victim%40example.net");
    site->Post("City=K%C3%B6ln&email=visitor%40example.org&mailsubject=Gr%C3%BC%C3%9Fe");
    auto mails = site->Mails(2);
    ASSERT_EQ(mails.size(), 2u);
    EXPECT_EQ(mails[0].Raw.substr(0, mails[0].Raw.find("\r\n\r\n")).find("victim"), std::string::npos) << mails[0].Raw;
    EXPECT_EQ(mails[0].Header("Reply-To"), "");
    Check(1, {"--no-header=Reply-To", "--no-header=Bcc"});
    EXPECT_TRUE(std::regex_search(mails[1].Header("Date"), std::regex(R"(^\w{3}, \d\d \w{3} \d{4} \d\d:\d\d:\d\d \+0000$)")))
        << mails[1].Raw;
    EXPECT_TRUE(std::regex_search(mails[1].Header("Message-ID"), std::regex(R"(^<[0-9a-f.]+@example\.org>$)"))) << mails[1].Raw;
    EXPECT_NE(mails[0].Header("Message-ID"), mails[1].Header("Message-ID"));
    // UTF-8 posted, UTF-8 declared: the recipient reads what was typed, subject included.
    EXPECT_EQ(mails[1].Header("Content-Type"), "text/plain; charset=utf-8");
    Check(2, {"--header=Reply-To=visitor@example.org", "--header=Subject=Grüße "});
    EXPECT_NE(mails[1].Body().find("City:K\xC3\xB6ln"), std::string::npos) << mails[1].Raw;
}

TEST_F(SiteOptions, ScriptsGetJsonAndOnlyListedOriginsMayAsk) {
    Conf("cors_origins = https://shop.example, http://localhost:8000\n");
    const std::vector<std::string> json = {"-H", "Accept: application/json", "-H", "Origin: https://shop.example"};
    auto post = [&](std::vector<std::string> headers, const std::string& data) {
        headers.insert(headers.end(), {"--data-binary", data});
        return site->Curl(headers, site->ProgramUrl());
    };
    HttpAnswer ok = post(json, "A=1");
    EXPECT_EQ(ok.Status, 200);
    EXPECT_EQ(ok.Body, "{\"ok\":true}");
    EXPECT_NE(ok.Headers.find("content-type: application/json"), std::string::npos) << ok.Headers;
    EXPECT_NE(ok.Headers.find("Access-Control-Allow-Origin: https://shop.example\r\n"), std::string::npos) << ok.Headers;

    HttpAnswer refused = post(json, "A=1&mailto=%22stranger%22%40evil.example");
    EXPECT_EQ(refused.Status, 403);
    EXPECT_EQ(refused.Body, "{\"ok\":false,\"error\":\"recipient-not-allowed\"}");
    HttpAnswer redirect = post(json, "A=1&htmlurl=%2Fthanks%22.html");
    EXPECT_EQ(redirect.Body, "{\"ok\":true,\"redirect\":\"/thanks\\\".html\"}");

    // The preflight: answered for a listed origin, without permission for any other; neither mails.
    HttpAnswer preflight = site->Curl({"-X", "OPTIONS", "-H", "Origin: http://localhost:8000", "-H",
                                       "Access-Control-Request-Method: POST"}, site->ProgramUrl());
    EXPECT_EQ(preflight.Status, 204);
    EXPECT_NE(preflight.Headers.find("Access-Control-Allow-Methods: POST"), std::string::npos) << preflight.Headers;
    HttpAnswer foreign = post({"-H", "Accept: application/json", "-H", "Origin: https://evil.example"}, "A=2");
    EXPECT_EQ(foreign.Headers.find("Access-Control"), std::string::npos) << foreign.Headers;
    HttpAnswer page = post({"-H", "Accept: text/html,application/json;q=0.9"}, "A=3");
    EXPECT_NE(page.Body.find("We received your message."), std::string::npos) << page.Body;
    EXPECT_EQ(site->Mails(4).size(), 4u);  // ok, redirect, foreign (CORS only hides the answer) and page

    Conf("");  // no relay on port 1: the send fails, and the script is told why
    TMailSettings s = *ReadSettingsFile(site->CgiFile("VELMORA.INI"));
    s.Set(TMailField::mailport, "1");
    WriteSettingsFile(site->CgiFile("VELMORA.INI"), s);
    HttpAnswer failed = post({"-H", "Accept: application/json"}, "A=1&Erroroff=1");
    EXPECT_EQ(failed.Status, 502);
    EXPECT_EQ(failed.Body, "{\"ok\":false,\"error\":\"send-failed\",\"message\":\"Connection refused\"}");
}

TEST_F(SiteOptions, RateLimitHoldsForConcurrentPosts) {
    Conf("rate_limit = 5/3600\n");
    std::vector<std::future<int>> posts;
    for (int i = 0; i < 20; ++i)
        // Twenty CGI starts at once on a loaded machine can take longer than the usual 30 s a post
        // may take: each post waits for its own answer, however long the queue.
        posts.push_back(std::async(std::launch::async, [&, i] {
            return site->Curl({"--max-time", "600", "--data-binary", "Post=" + std::to_string(i)}, site->ProgramUrl()).Status;
        }));
    int accepted = 0, limited = 0;
    for (auto& p : posts) {
        int status = p.get();
        accepted += status == 200;
        limited += status == 429;
    }
    EXPECT_EQ(accepted, 5);
    EXPECT_EQ(limited, 15);
    EXPECT_EQ(site->Mails(5).size(), 5u);
    EXPECT_EQ(ReadSettingsFile(site->CgiFile("VELMORA.INI"))->Counter(), 5);  // refused posts are not counted
    // Visitor addresses and form values are kept from other accounts on the machine.
    namespace fs = std::filesystem;
    const std::pair<std::string, unsigned> privateFiles[] = {{"VELMORA.RATE", 0640}, {"Log", 0750}, {"Log/velmora.Log", 0640}};
    for (const auto& [name, mode] : privateFiles)
        EXPECT_EQ(static_cast<unsigned>(fs::status(site->CgiFile(name)).permissions()), mode) << name << std::oct << " wants 0" << mode;
}

TEST_F(SiteOptions, UploadsArriveAsAttachmentsWithinTheirLimit) {
    Conf("attach_uploads = yes\nmax_upload_bytes = 300000\n");
    std::string photo(200000, '\0'), notes = "line one\r\nline two\r\n";
    std::mt19937 random(7);
    for (char& c : photo) c = static_cast<char>(random());
    WriteWholeFile(site->Dir() + "/photo.bin", photo);
    WriteWholeFile(site->Dir() + "/notes.txt", notes);
    // Two files of one name with another field between them, and an empty file input.
    HttpAnswer a = site->PostMultipart({"doc=@" + site->Dir() + "/photo.bin;filename=C:\\pics\\photo.bin", "Name=Anna",
                                        "doc=@" + site->Dir() + "/notes.txt", "empty=@/dev/null;filename="});
    EXPECT_NE(a.Body.find("We received your message."), std::string::npos) << a.Body;
    auto mails = site->Mails(1);
    ASSERT_EQ(mails.size(), 1u);
    Check(1, {"--attachment=photo.bin=" + site->Dir() + "/photo.bin", "--attachment=notes.txt=" + site->Dir() + "/notes.txt"});
    EXPECT_EQ(mails[0].Raw.find("_FILENAME"), std::string::npos) << "the server's upload paths stay out of the mail";

    WriteWholeFile(site->Dir() + "/big.bin", std::string(310000, 'x'));
    HttpAnswer big = site->PostMultipart({"Name=Anna", "big=@" + site->Dir() + "/big.bin"});
    EXPECT_EQ(big.Status, 413);
    EXPECT_EQ(site->Mails().size(), 1u);
    // A plain form naming a server file as an upload path attaches nothing.
    site->Post("x=a.txt&x_FILENAME=" + site->CgiFile("VELMORA.INI"));
    auto all = site->Mails(2);
    ASSERT_EQ(all.size(), 2u);
    EXPECT_EQ(all[1].Raw.find("multipart"), std::string::npos) << all[1].Raw;
}

TEST_F(SiteOptions, BrowserScriptOfAListedOriginPostsAndReadsTheAnswer) {
    // The page comes from http://localhost:PORT, another origin than the program's 127.0.0.1:PORT.
    // Its X-Requested-With header makes the browser ask first (the preflight).
    std::string pageOrigin = site->Url("").replace(7, 9, "localhost");
    WriteWholeFile(site->WwwDir() + "/script.html",
                   "<!DOCTYPE html><html><body><p id='out'>waiting</p><script>\n"
                   "fetch('" + site->ProgramUrl() + "', {method: 'POST', headers: {'Accept': 'application/json',"
                   " 'X-Requested-With': 'fetch'}, body: new URLSearchParams({Name: 'Script', City: 'K\\u00f6ln'})})\n"
                   "  .then(r => r.json().then(j => 'status ' + r.status + ' ' + JSON.stringify(j)))\n"
                   "  .catch(e => 'refused ' + e.name)\n"
                   "  .then(t => { document.getElementById('out').textContent = t; });\n"
                   "</script></body></html>");
    auto runBrowser = [&] {
        TChildRun browser;
        browser.Args = {"/usr/bin/chromium", "--headless", "--no-sandbox", "--disable-gpu",
                        "--disable-background-networking", "--disable-component-update", "--disable-sync",
                        "--no-first-run", "--user-data-dir=" + site->Dir() + "/profile",
                        "--virtual-time-budget=5000", "--dump-dom", pageOrigin + "/script.html"};
        browser.Env = InheritedEnvironment();
        browser.TimeoutMs = 90000;
        TChildResult r = RunChild(browser);
        EXPECT_EQ(r.ExitCode, 0) << r.Err;
        return r.Out;
    };
    Conf("cors_origins = " + pageOrigin + "\n");
    std::string dom = runBrowser();
    EXPECT_NE(dom.find("status 200 {\"ok\":true}"), std::string::npos) << dom;
    auto mails = site->Mails(1);
    ASSERT_EQ(mails.size(), 1u);
    EXPECT_NE(mails[0].Body().find("Name:Script"), std::string::npos) << mails[0].Raw;

    Conf("cors_origins = https://shop.example\n");
    dom = runBrowser();
    EXPECT_NE(dom.find("refused TypeError"), std::string::npos) << dom;
    EXPECT_EQ(site->Mails().size(), 1u);  // the browser never sent the post
}

// The demo's relay prints what it receives on the terminal: each text part as the visitor typed
// it, decoded by the character set the mail declares, plain and beside an attachment.
TEST_F(SiteOptions, DemoRelayPrintsTextPartsInTheirCharacterSet) {
    TempDir relayDir;
    TBackground relay({"/usr/bin/python3", VELMORA_SOURCE_DIR "/tools/smtp_sink.py", relayDir.Path(), "--print"},
                      relayDir / "printed.txt");
    for (int i = 0; i < 300 && !std::filesystem::exists(relayDir / "port"); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    ASSERT_TRUE(std::filesystem::exists(relayDir / "port")) << ReadWholeFile(relayDir / "printed.txt");
    WriteSettingsFile(site->CgiFile("VELMORA.INI"), SiteMailSettings(std::stoi(ReadWholeFile(relayDir / "port"))));
    Conf("mail_charset = utf-8\nattach_uploads = yes\n");
    EXPECT_NE(site->Post("City=K%C3%B6ln").Body.find(ThankYou), std::string::npos);
    WriteWholeFile(site->Dir() + "/note.txt", "attached");
    EXPECT_NE(site->PostMultipart({"Street=Stra\xC3\x9F" "e", "doc=@" + site->Dir() + "/note.txt"}).Body.find(ThankYou),
              std::string::npos);
    std::string printed;
    for (int i = 0; i < 250 && printed.find("end of mail 2") == std::string::npos; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        printed = ReadWholeFile(relayDir / "printed.txt");
    }
    EXPECT_NE(printed.find("City:K\xC3\xB6ln\n"), std::string::npos) << printed;
    EXPECT_NE(printed.find("Street:Stra\xC3\x9F" "e\n"), std::string::npos) << printed;
    EXPECT_EQ(printed.find("\xC3\x83"), std::string::npos) << printed;  // no UTF-8 bytes shown as Latin-1
    EXPECT_EQ(printed.find("attached"), std::string::npos) << printed;   // an attachment is named, not printed
}

TEST_F(SiteOptions, VisitorTextCannotReshapeTheMailWithAttachments) {
    Conf("attach_uploads = yes\n");
    auto post = [&](const std::string& message, const std::string& fileName) {
        const std::string body = "--XyZ\r\nContent-Disposition: form-data; name=\"Message\"\r\n\r\n" + message +
                                 "\r\n--XyZ\r\nContent-Disposition: form-data; name=\"doc\"; filename=\"" + fileName +
                                 "\"\r\n\r\nfile text\r\n--XyZ--\r\n";
        return site->PostMultipartBody(body);
    };
    const std::regex boundaryOf("boundary=\"(=_[0-9A-F]{32})\"");
    std::smatch first;
    post("hello", "a.txt");
    ASSERT_EQ(site->Mails(1).size(), 1u);
    const std::string raw1 = site->Mails()[0].Raw;
    ASSERT_TRUE(std::regex_search(raw1, first, boundaryOf)) << raw1;
    // The first mail's boundary, written into the next form: a part of the visitor's own and a
    // close that would push the file into the epilogue.
    const std::string b1 = first[1];
    WriteWholeFile(site->Dir() + "/file.txt", "file text");
    post("hi\r\n--" + b1 + "\r\nContent-Type: text/html\r\n\r\n<b>x</b>\r\n--" + b1 + "--\r\nend",
         "K\xC3\xB6ln \xE2\x80\xAEtxt.exe\x01");
    auto mails = site->Mails(2);
    ASSERT_EQ(mails.size(), 2u);
    std::smatch second;
    ASSERT_TRUE(std::regex_search(mails[1].Raw, second, boundaryOf)) << mails[1].Raw;
    EXPECT_NE(second[1].str(), b1);
    EXPECT_NE(mails[1].Raw.find("attachment;\r\n filename*=UTF-8''K%C3%B6ln%20txt.exe;\r\n filename=\"K_ln txt.exe\"\r\n"),
              std::string::npos) << mails[1].Raw;
    // One text part and one attachment, whose name shows without the direction override.
    Check(2, {"--attachment=K\xC3\xB6ln txt.exe=" + site->Dir() + "/file.txt"});
}

static std::string Repeat(const std::string& s, int n) {
    std::string out;
    for (int i = 0; i < n; ++i) out += s;
    return out;
}

TEST_F(SiteOptions, UploadsWithVeryLongNamesStayFiles) {
    Conf("attach_uploads = yes\n");
    WriteWholeFile(site->Dir() + "/file.bin", "the file's own bytes");
    // A name beyond the header line's parsed bytes, one that fits the line but not a file name
    // (its extension kept), and one cut short by a control byte.
    const struct {
        std::string sent, shown;
    } table[] = {
        {std::string(3000, 'a') + ".txt", std::string(255, 'a')},
        {std::string(296, 'b') + ".txt", std::string(251, 'b') + ".txt"},
        {"c.txt\x01d", "c.txt"},
        // Cut between characters, never inside one; the long UTF-8 name goes in continuation lines.
        {Repeat("\xC3\xB6", 200) + ".txt", Repeat("\xC3\xB6", 125) + ".txt"},
    };
    int n = 0;
    for (const auto& row : table) {
        SCOPED_TRACE(row.shown);
        const std::string body = "--XyZ\r\nContent-Disposition: form-data; name=\"doc\"; filename=\"" + row.sent +
                                 "\"\r\nContent-Type: text/plain\r\n\r\nthe file's own bytes\r\n--XyZ--\r\n";
        HttpAnswer a = site->PostMultipartBody(body);
        EXPECT_NE(a.Body.find("We received your message."), std::string::npos) << a.Body;
        auto mails = site->Mails(++n);
        ASSERT_EQ(mails.size(), static_cast<size_t>(n));
        EXPECT_EQ(mails.back().Body().find("the file's own bytes"), std::string::npos) << mails.back().Raw;
        Check(n, {"--attachment=" + row.shown + "=" + site->Dir() + "/file.bin"});
    }
}

// log = syslog|both: a post's log line reaches the system log's socket (here one the test listens
// on) with the request id, in facility mail; with syslog alone the file gets nothing.
TEST_F(SiteOptions, LogLinesReachTheSystemLog) {
    TempDir dir;
    std::filesystem::permissions(dir.Path(), std::filesystem::perms::all);
    std::string socketPath = dir.Path() + "/log.sock";
    SyslogListener listener(socketPath);
    std::filesystem::permissions(socketPath, std::filesystem::perms::all);  // the CGI user writes to it
    struct Case {
        const char* log;
        bool toSyslog, toFile;
    } cases[] = {{"syslog", true, false}, {"both", true, true}, {"file", false, true}};
    for (const Case& c : cases) {
        Conf(std::string("log = ") + c.log + "\nsyslog_socket = " + socketPath + "\nhoneypot_field = website\n");
        std::string marker = std::string("robot-") + c.log;
        site->Post("A=1&website=" + marker);
        std::string datagram;
        for (const std::string& line : listener.Lines()) datagram += line;
        std::smatch m;
        bool found = std::regex_search(datagram, m, std::regex("^<22>\\w{3} [ \\d]\\d \\d\\d:\\d\\d:\\d\\d " +
                                                                    site->ProgramName() + "\\[\\d+\\]: (\\d+) : Post from "
                                                                    "127\\.0\\.0\\.1 not mailed: it filled the hidden field website"));
        EXPECT_EQ(found, c.toSyslog) << c.log << ": " << datagram;
        EXPECT_EQ(Logged("filled the hidden field website"), c.toFile) << c.log << ": " << site->Log();
        if (found && c.toFile) {  // the same request id in both
            EXPECT_TRUE(Logged(",  " + m[1].str() + " : Post from")) << site->Log();
        }
        std::filesystem::remove(site->CgiFile("Log/" + site->ProgramName() + ".Log"));
    }
}
