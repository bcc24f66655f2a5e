// velmora under lighttpd against posts a hostile visitor would send: each case is a way the
// program could be abused, checked through the real web server and relay.
#include <gtest/gtest.h>

#include <unistd.h>

#include "SettingsFile.h"
#include "VelmoraSite.h"

using namespace velmora;
using namespace velmora::test;

namespace {

const std::string ThankYouPage =
    "<HTML><HEAD><TITLE>Message</TITLE></HEAD><BODY>"
    "<center>Thank you.<br>We received your message.</center></BODY></HTML>";

class HostileClient : public ::testing::Test {
protected:
    void SetUp() override {
        site = std::make_unique<VelmoraSite>(VELMORA_PROGRAM, std::vector<std::string>{});
        TMailSettings s;
        s.Set(TMailField::mailfrom, "form@example.org");
        s.Set(TMailField::mailto, "webmaster@example.org");
        s.Set(TMailField::mailsubject, "Web form");
        s.Set(TMailField::mailhost, "127.0.0.1");
        s.Set(TMailField::mailport, std::to_string(site->SmtpPort()));
        s.Set(TMailField::Options, "nn");
        WriteSettingsFile(site->CgiFile("VELMORA.INI"), s);
        WriteWholeFile(site->CgiFile("VELMORA.ALL"), "webmaster@example.org\r\n");
    }
    void TearDown() override {
        std::string errors = site->ServerErrors();
        EXPECT_EQ(errors.find("Sanitizer"), std::string::npos) << errors;
    }
    bool Logged(const std::string& text) const { return site->Log().find(text) != std::string::npos; }

    std::unique_ptr<VelmoraSite> site;
};

}  // namespace

TEST_F(HostileClient, FormChoosesTheRelayOnlyWhenTheSiteAllowsIt) {
    // Port 1 has no listener: a connection there would fail the send.
    const std::string post = "A=1&mailhost=127.0.0.1&mailport=1";
    EXPECT_EQ(site->Post(post).Body, ThankYouPage);
    ASSERT_EQ(site->Mails(1).size(), 1u);
    EXPECT_TRUE(Logged("Form field mailport \"1\" ignored")) << site->Log();

    WriteWholeFile(site->CgiFile("VELMORA.CONF"), "# this site's forms pick their relay\nform_relay = allow\n");
    HttpAnswer refused = site->Post(post);
    EXPECT_NE(refused.Body.find("unable to deliver mail : Connection refused"), std::string::npos) << refused.Body;
    EXPECT_EQ(site->Mails().size(), 1u);
}

TEST_F(HostileClient, TemplateMustBeAPageOfTheSite) {
    WriteWholeFile(site->CgiFile("ok.htm"), "<p>the site's page</p>");
    WriteWholeFile(site->CgiFile("notes.txt"), "private notes");
    ASSERT_EQ(::symlink("/etc/passwd", site->CgiFile("passwd.htm").c_str()), 0);
    ASSERT_EQ(::symlink("VELMORA.INI", site->CgiFile("settings.htm").c_str()), 0);
    site->Post("A=1");  // makes the log
    for (const std::string name : {"VELMORA.INI", "VELMORA.ALL", "velmora", "Log/velmora.Log", "notes.txt",
                                   "passwd.htm", "settings.htm", "Log"}) {
        SCOPED_TRACE(name);
        EXPECT_EQ(site->Post("A=1&htmlfile=" + name).Body, ThankYouPage);
        EXPECT_TRUE(Logged("Form field htmlfile \"" + name + "\" ignored")) << site->Log();
    }
    EXPECT_EQ(site->Post("A=1&htmlfile=ok.htm").Body, "<p>the site's page</p>");
}

TEST_F(HostileClient, RequestTextNeverBecomesHeaderLines) {
    // A template that starts with an entry, and one behind a byte-order mark.
    WriteWholeFile(site->CgiFile("entry.htm"), "%Name%, thank you");
    WriteWholeFile(site->CgiFile("bom.htm"), "\xEF\xBB\xBF%Name%<p>");
    const std::string planted = "Name=x%0D%0ASet-Cookie%3A+planted%3D1%0D%0ALocation%3A+http%3A%2F%2Fevil.example%2F%0D%0A%0D%0A";
    for (const std::string page : {"entry.htm", "bom.htm"}) {
        SCOPED_TRACE(page);
        HttpAnswer a = site->Post(planted + "&htmlfile=" + page);
        EXPECT_EQ(a.Status, 200);
        EXPECT_EQ(a.Headers.find("planted"), std::string::npos) << a.Headers;
        EXPECT_EQ(a.Headers.find("evil.example"), std::string::npos) << a.Headers;
        EXPECT_EQ(a.Body.rfind("x\r\nSet-Cookie: planted=1", 0), 0u) << a.Body;
    }
}

TEST_F(HostileClient, FormAboveTheReadLimitIsRefusedNotLost) {
    HttpAnswer a = site->Post("A=" + std::string(12000, 'x'));
    EXPECT_EQ(a.Status, 413);
    EXPECT_NE(a.Body.find("too large"), std::string::npos) << a.Body;
    EXPECT_TRUE(Logged("Form of 12002 bytes not read")) << site->Log();
    EXPECT_EQ(site->Post("A=1").Body, ThankYouPage);
    EXPECT_EQ(site->Mails(1).size(), 1u);
}

TEST_F(HostileClient, RedirectsOnlyToWebAddresses) {
    for (const std::string url : {"javascript:alert(1)", "java%09script:alert(1)", "data:text/html,x", "+JavaScript:x"}) {
        SCOPED_TRACE(url);
        EXPECT_EQ(site->Post("A=1&htmlurl=" + url).Body, ThankYouPage);
    }
    EXPECT_TRUE(Logged("Form field htmlurl \"data:text/html,x\" ignored")) << site->Log();
    EXPECT_NE(site->Post("A=1&htmlurl=%2Fthanks.html").Body.find("URL=/thanks.html\""), std::string::npos);
}

TEST_F(HostileClient, LogLinesHoldACutOfLongValues) {
    site->Post("A=1&mailcc=" + std::string(9000, 'v'));
    std::string log = site->Log();
    EXPECT_NE(log.find("Copy recipient \"" + std::string(200, 'v') + "...[cut, 9000 bytes]\""), std::string::npos) << log;
    EXPECT_LT(log.size(), 1000u);
}
