// velmora started as a profile-file server starts it: the profile path as its only parameter, the
// answer in the output file, the mail on a real SMTP server, the request counted in VELMORA.INI.
#include <gtest/gtest.h>

#include <filesystem>

#include "AltchaPeer.h"
#include "ChildProcess.h"
#include "FileBytes.h"
#include "MailDecode.h"
#include "SettingsFile.h"
#include "SiteSettings.h"
#include "SmtpSink.h"
#include "TempDir.h"
#include "WebServer.h"

using namespace velmora;
using namespace velmora::test;
namespace fs = std::filesystem;

namespace {

const std::string ThankYouPage =
    "<HTML><HEAD><TITLE>Message</TITLE></HEAD><BODY>"
    "<center>Thank you.<br>We received your message.</center></BODY></HTML>";

TEST(ProfileEndToEnd, ProfileRequestIsMailedAnsweredInTheOutputFileAndCounted) {
    SmtpSink relay;
    TempDir dir;
    const std::string program = dir / "velmora";
    fs::copy_file(VELMORA_PROGRAM, program);
    TMailSettings s = test::SiteMailSettings(relay.Port());
    s.Set(TMailField::Options, "nj");
    WriteSettingsFile(dir / "VELMORA.INI", s);
    WriteWholeFile(dir / "VELMORA.ALL", "webmaster@example.org\r\n");
    fs::create_directory(dir / "tmp");

    // A text area with a line break arrives in its own file, as servers store such values.
    WriteWholeFile(dir / "note.txt", "first line\r\nsecond line");
    WriteWholeFile(dir / "request.ini",
                   "[CGI]\r\nRequest Protocol=HTTP/1.0\r\nRequest Method=POST\r\nExecutable Path=/cgi-win/velmora\r\n"
                   "Server Software=Profile-Server/1.0\r\nContent Type=application/x-www-form-urlencoded\r\n"
                   "Content Length=40\r\n[System]\r\nOutput File=" + dir / "answer.out" + "\r\n"
                   "[Form Literal]\r\nName=Anna\r\nPick=a\r\nPick_1=b\r\nmailto=webmaster@example.org\r\n"
                   "[Form External]\r\nNote=" + dir / "note.txt" + " 23\r\n");
    TChildRun run;
    run.Args = {program, dir / "request.ini"};
    run.Env = {"PATH=/usr/bin:/bin", "TMPDIR=" + dir / "tmp"};
    run.TimeoutMs = 30000;
    TChildResult r = RunChild(run);
    EXPECT_FALSE(r.TimedOut);
    EXPECT_EQ(r.ExitCode, 0) << r.Err;
    EXPECT_EQ(r.Out, "");

    EXPECT_EQ(ReadWholeFile(dir / "answer.out"), "content-type:text/html\r\n\r\n" + ThankYouPage);
    ASSERT_EQ(relay.MessageCount(), 1);
    const std::string mail = ReadFileBytes(relay.Message(1));
    const std::string body = DecodeQuotedPrintable(mail.substr(mail.find("\r\n\r\n") + 4));
    EXPECT_NE(mail.find("Subject: Web form #1 "), std::string::npos) << mail;
    // Profile field names come upper-cased, section by section and in key order within each (the
    // upper-cased MAILTO is a control field and stays out); the repeated field as one value.
    EXPECT_NE(body.find("<--- Top of form \r\n---------------->\r\nNAME:Anna\r\nPICK:a\r\nb\r\n"
                        "NOTE:first line\r\nsecond line\r\n<--- Bottom"),
              std::string::npos)
        << body;
    EXPECT_EQ(ReadSettingsFile(dir / "VELMORA.INI")->Counter(), 1);
    EXPECT_EQ(ReadWholeFile(dir / "Log/velmora.Log"), "");
}

// A site in dir as a profile server runs it: the program, settings mailing through the relay,
// the allowed list, the site options (its owner's only: they may hold a key), a temp folder.
std::string ProfileSite(const TempDir& dir, int relayPort, const std::string& conf) {
    const std::string program = dir / "velmora";
    fs::copy_file(VELMORA_PROGRAM, program);
    WriteSettingsFile(dir / "VELMORA.INI", test::SiteMailSettings(relayPort));
    WriteWholeFile(dir / "VELMORA.ALL", "webmaster@example.org\r\n");
    WriteWholeFile(dir / "VELMORA.CONF", conf);
    fs::permissions(dir / "VELMORA.CONF", fs::perms::owner_read | fs::perms::owner_write);
    fs::create_directory(dir / "tmp");
    return program;
}

// The site's options under the profile engine, as under CGI: the status reaches the server as a
// "Status" line, Accept (its own section) and Origin (an extra header) are seen, and the read
// limit bounds the content file only, never fields the server already decoded into the profile.
TEST(ProfileEndToEnd, SiteOptionsAndReadLimitHoldAsUnderCgi) {
    SmtpSink relay;
    TempDir dir;
    const std::string program = ProfileSite(dir, relay.Port(), "post_only = yes\ncors_origins = https://shop.example\n");
    const std::string big(15000, 'b');
    WriteWholeFile(dir / "big.txt", big);
    WriteWholeFile(dir / "content.bin", "--XyZ\r\nContent-Disposition: form-data; name=\"A\"\r\n\r\n1\r\n--XyZ--\r\n");

    struct Row {
        std::string Name, Method, ContentType, Length, Extra, Want;
        bool Mailed;
    } rows[] = {
        {"a GET where the site mails posts only", "GET", "", "0", "", "Status: 405 Method Not Allowed\r\ncontent-type:text/html\r\nAllow:POST\r\n", false},
        {"a script's preflight", "OPTIONS", "", "0", "[Extra Headers]\r\nOrigin=https://shop.example\r\n",
         "Status: 204 No Content\r\ncontent-type:text/html\r\nAccess-Control-Allow-Origin:https://shop.example\r\n", false},
        {"a script's post asking for JSON", "POST", "application/x-www-form-urlencoded", "10",
         "[Accept]\r\napplication/json=Yes\r\ntext/html=q=0.5\r\n[Extra Headers]\r\nOrigin=https://shop.example\r\n",
         "content-type:application/json; charset=utf-8\r\nAccess-Control-Allow-Origin:https://shop.example\r\n", true},
        {"a post above the read limit whose fields the profile holds", "POST", "application/x-www-form-urlencoded",
         "15010", "[Form External]\r\nText=" + (dir / "big.txt") + " 15000\r\n", "content-type:text/html\r\n\r\n", true},
        {"a multipart content file above the read limit", "POST", "multipart/form-data; boundary=XyZ", "20000",
         "Content File=" + (dir / "content.bin") + "\r\n", "Status: 413 Payload Too Large\r\n", false},
    };
    int mails = 0;
    for (const Row& row : rows) {
        fs::remove(dir / "answer.out");
        WriteWholeFile(dir / "request.ini",
                       "[CGI]\r\nRequest Method=" + row.Method + "\r\nExecutable Path=/cgi-win/velmora\r\n"
                       "Server Software=Profile-Server/1.0\r\nContent Type=" + row.ContentType + "\r\n"
                       "Content Length=" + row.Length + "\r\n[System]\r\nOutput File=" + dir / "answer.out" + "\r\n" +
                       row.Extra + "[Form Literal]\r\nName=Anna\r\n");
        TChildRun run;
        run.Args = {program, dir / "request.ini"};
        run.Env = {"PATH=/usr/bin:/bin", "TMPDIR=" + dir / "tmp"};
        run.TimeoutMs = 30000;
        TChildResult r = RunChild(run);
        EXPECT_EQ(r.ExitCode, 0) << row.Name << r.Err;
        const std::string answer = ReadWholeFile(dir / "answer.out");
        EXPECT_EQ(answer.rfind(row.Want, 0), 0u) << row.Name << ": " << answer;
        if (row.Mailed) ++mails;
        EXPECT_EQ(relay.MessageCount(), mails) << row.Name << ReadWholeFile(dir / "Log/velmora.Log");
    }
    // The post above the read limit came whole: its long field is in the mail.
    ASSERT_EQ(relay.MessageCount(), 2);
    const std::string mail = ReadFileBytes(relay.Message(2));
    EXPECT_NE(DecodeQuotedPrintable(mail.substr(mail.find("\r\n\r\n") + 4)).find("TEXT:" + big), std::string::npos)
        << mail.substr(0, 1500);
}

// The proof-of-work challenge and its check under the profile engine: the challenge comes as
// JSON in the output file, altcha-lib's solution is taken once, and its replay is refused unmailed.
TEST(ProfileEndToEnd, AltchaChallengeSolvedPostAndReplay) {
    std::string why;
    ASSERT_TRUE(InstallAltchaPeers(VELMORA_SOURCE_DIR, ALTCHA_PEERS_DIR, why)) << why;
    SmtpSink relay;
    TempDir dir;
    const std::string program =
        ProfileSite(dir, relay.Port(), "altcha = required\naltcha_hmac_key = profile-engine-altcha-key\n");
    auto run = [&](const std::string& method, const std::string& query, const std::string& literal) {
        fs::remove(dir / "answer.out");
        WriteWholeFile(dir / "request.ini",
                       "[CGI]\r\nRequest Method=" + method + "\r\nQuery String=" + query +
                       "\r\nExecutable Path=/cgi-win/velmora\r\nServer Software=Profile-Server/1.0\r\n"
                       "Content Type=application/x-www-form-urlencoded\r\nContent Length=0\r\n"
                       "[System]\r\nOutput File=" + dir / "answer.out" + "\r\n[Form Literal]\r\n" + literal);
        TChildResult r = RunChild({{program, dir / "request.ini"}, {"PATH=/usr/bin:/bin", "TMPDIR=" + dir / "tmp"}, "", 30000, ""});
        EXPECT_EQ(r.ExitCode, 0) << r.Err;
        return ReadWholeFile(dir / "answer.out");
    };
    const std::string challenge = run("GET", "altcha", "");
    ASSERT_NE(challenge.find("application/json"), std::string::npos) << challenge;
    ASSERT_NE(challenge.find("no-store"), std::string::npos) << challenge;
    const std::string payload =
        AltchaPeer(VELMORA_SOURCE_DIR, ALTCHA_PEERS_DIR, {"solve"}, challenge.substr(challenge.find("\r\n\r\n") + 4));
    const std::string post = "Name=Anna\r\naltcha=" + payload + "\r\n";

    EXPECT_NE(run("POST", "", post).find("We received your message."), std::string::npos);
    EXPECT_EQ(run("POST", "", post).find("We received your message."), std::string::npos);
    EXPECT_EQ(run("POST", "", "Name=Robot\r\n").find("We received your message."), std::string::npos);
    const std::string log = ReadWholeFile(dir / "Log/velmora.Log");
    EXPECT_NE(log.find("spam: altcha replayed"), std::string::npos) << log;
    EXPECT_NE(log.find("spam: altcha missing"), std::string::npos) << log;
    ASSERT_EQ(relay.MessageCount(), 1);
    const std::string mail = ReadFileBytes(relay.Message(1));
    EXPECT_NE(mail.find("NAME:Anna"), std::string::npos) << mail;
    EXPECT_EQ(mail.find(payload.substr(0, 20)), std::string::npos) << mail;
}

}  // namespace
