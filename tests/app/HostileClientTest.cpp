// velmora under lighttpd against posts a hostile visitor would send: each case is a way the
// program could be abused, checked through the real web server and relay.
#include <gtest/gtest.h>

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
