// velmora started as a profile-file server starts it: the profile path as its only parameter, the
// answer in the output file, the mail on a real SMTP server, the request counted in VELMORA.INI.
#include <gtest/gtest.h>

#include <filesystem>

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

}  // namespace
