// velmora under lighttpd mailing over STARTTLS with a login, as VELMORA.CONF asks: the relay is
// aiosmtpd with a certificate of an authority the test makes; the login never leaves for a relay
// that a form chose, and a password file other users can read stops the mail.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include "SettingsFile.h"
#include "SiteSettings.h"
#include "TempDir.h"
#include "TestCertificates.h"
#include "VelmoraSite.h"

using namespace velmora;
using namespace velmora::test;

namespace {

const std::string ThankYouPage =
    "<HTML><HEAD><TITLE>Message</TITLE></HEAD><BODY>"
    "<center>Thank you.<br>We received your message.</center></BODY></HTML>";

class TlsEndToEnd : public ::testing::Test {
protected:
    void SetUp() override {
        std::vector<std::string> options = certs.SinkOptions();
        options.insert(options.end(), {"--login", "u:p"});
        site = std::make_unique<VelmoraSite>(VELMORA_PROGRAM, std::vector<std::string>{}, options);
        TMailSettings s = test::SiteMailSettings(site->SmtpPort());
        WriteSettingsFile(site->CgiFile("VELMORA.INI"), s);
        WriteWholeFile(site->CgiFile("VELMORA.ALL"), "webmaster@example.org\r\n");
    }
    void TearDown() override {
        std::string errors = site->ServerErrors();
        EXPECT_EQ(errors.find("Sanitizer"), std::string::npos) << errors;
    }
    // VELMORA.CONF for the test's relay: STARTTLS required, the test's authority, a login.
    void Configure(const std::string& password, mode_t mode, const std::string& more = "") {
        std::string path = site->CgiFile("VELMORA.CONF");
        WriteWholeFile(path, "tls = required\ntls_ca_file = " + certs.CaFile() + "\nsmtp_user = u\nsmtp_password = " +
                                 password + "\n" + more);
        ASSERT_EQ(::chmod(path.c_str(), mode), 0);
    }
    static std::string Envelope(const SmtpSink& sink, int n) { return ReadWholeFile(sink.Envelope(n)); }
    static std::string Logins(const SmtpSink& sink) { return ReadWholeFile(sink.Dir() + "/auth.log"); }

    TempDir dir;
    TestCertificates certs{dir.Path()};
    std::unique_ptr<VelmoraSite> site;
};

}  // namespace

TEST_F(TlsEndToEnd, StartTlsWithLoginWrongPasswordAndAReadablePasswordFile) {
    Configure("p", 0600);
    EXPECT_EQ(site->Post("Name=Anna").Body, ThankYouPage);
    ASSERT_EQ(site->Mails(1).size(), 1u);
    EXPECT_NE(Envelope(site->Smtp(), 1).find("\"tls\": true, \"login\": \"u\""), std::string::npos);

    Configure("wrong", 0600);
    std::string page = site->Post("Name=Anna").Body;
    EXPECT_NE(page.find("unable to deliver mail : 535 "), std::string::npos) << page;

    Configure("p", 0644);
    page = site->Post("Name=Anna").Body;
    EXPECT_NE(page.find("mail settings are refused"), std::string::npos) << page;
    EXPECT_NE(site->Log().find("holds a password that other users can read"), std::string::npos) << site->Log();
    EXPECT_EQ(site->Log().find("wrong"), std::string::npos);  // the password never reaches the log
    EXPECT_EQ(Logins(site->Smtp()), "PLAIN u ok\nPLAIN u refused\n");
    EXPECT_EQ(site->Mails().size(), 1u);
}

TEST_F(TlsEndToEnd, RelayChosenByTheFormNeverGetsTheLogin) {
    SmtpSink formRelay(certs.SinkOptions());  // STARTTLS with a good certificate, no login asked
    const std::string post = "Name=Anna&mailhost=127.0.0.1&mailport=" + std::to_string(formRelay.Port());
    Configure("p", 0600);
    EXPECT_EQ(site->Post(post).Body, ThankYouPage);  // not allowed: the site's relay, with the login
    EXPECT_EQ(formRelay.MessageCount(), 0);
    ASSERT_EQ(site->Mails(1).size(), 1u);

    Configure("p", 0600, "form_relay = allow\n");
    EXPECT_EQ(site->Post(post).Body, ThankYouPage);
    ASSERT_EQ(formRelay.MessageCount(), 1);
    EXPECT_NE(Envelope(formRelay, 1).find("\"tls\": true, \"login\": null"), std::string::npos) << Envelope(formRelay, 1);
    EXPECT_EQ(Logins(site->Smtp()), "PLAIN u ok\n");
}
