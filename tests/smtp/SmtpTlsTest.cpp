// The sender over TLS with a login, against a real aiosmtpd serving certificates of a private
// authority made for the test; a scripted relay for EHLO refusals and text slipped in before TLS.
#include <gtest/gtest.h>

#include "HSmtp.h"
#include "ScriptedRelay.h"
#include "SmtpCapabilities.h"
#include "SmtpSink.h"
#include "TempDir.h"
#include "TestCertificates.h"

namespace velmora {
namespace {

using test::RelayConnection;
using test::ScriptedRelay;
using test::SmtpSink;

class SmtpTls : public ::testing::Test {
protected:
    std::unique_ptr<TSmtpSendMail> Mailer(const SmtpSink& sink, TTlsMode mode, const std::string& password = "p") {
        auto m = std::make_unique<TSmtpSendMail>();
        m->RemoteHost = "127.0.0.1";
        m->RemotePort = std::to_string(sink.Port());
        m->MailFrom = "alice@example.test";
        m->MailTo = "bob@example.test";
        m->MailBody().Add("over TLS");
        m->Security.Tls = mode;
        m->Security.Certificates.CaFile = certs.CaFile();
        m->Security.User = "u";
        m->Security.Password = password;
        return m;
    }
    // What the relay recorded of login attempts, "" when none reached it.
    static std::string Logins(const SmtpSink& sink) { return test::ReadFileBytes(sink.Dir() + "/auth.log"); }
    static std::string Envelope(const SmtpSink& sink, int n) { return test::ReadFileBytes(sink.Envelope(n)); }
    std::vector<std::string> Options(std::vector<std::string> more) {
        auto o = certs.SinkOptions();
        o.insert(o.end(), more.begin(), more.end());
        return o;
    }

    test::TempDir dir;
    test::TestCertificates certs{dir.Path()};
};

TEST_F(SmtpTls, StartTlsWithPlainAndLoginMechanismsAndAWrongPassword) {
    SmtpSink sink(Options({"--login", "u:p"}));
    auto mail = Mailer(sink, TTlsMode::Required);
    ASSERT_TRUE(mail->Send(20)) << mail->GetErrorText();
    EXPECT_NE(Envelope(sink, 1).find("\"tls\": true, \"login\": \"u\""), std::string::npos) << Envelope(sink, 1);

    mail->Security.Password = "wrong";
    EXPECT_FALSE(mail->Send(20));
    EXPECT_EQ(mail->ReplyCode(), 535);
    EXPECT_EQ(mail->GetErrorText(), mail->LastReply());
    EXPECT_EQ(Logins(sink), "PLAIN u ok\nPLAIN u refused\n");
    EXPECT_EQ(sink.MessageCount(), 1);

    SmtpSink loginOnly(Options({"--login", "u:p", "--no-auth-plain"}));
    mail = Mailer(loginOnly, TTlsMode::StartTls);
    ASSERT_TRUE(mail->Send(20)) << mail->GetErrorText();
    EXPECT_EQ(Logins(loginOnly), "LOGIN u ok\n");
}

TEST_F(SmtpTls, ImplicitTlsByNameAndByAddress) {
    SmtpSink sink(Options({"--implicit", "--login", "u:p"}));
    auto mail = Mailer(sink, TTlsMode::Implicit);
    ASSERT_TRUE(mail->Send(20)) << mail->GetErrorText();
    mail->RemoteHost = "localhost";  // checked against the certificate's DNS name, sent as SNI
    ASSERT_TRUE(mail->Send(20)) << mail->GetErrorText();
    EXPECT_EQ(sink.MessageCount(), 2);
    EXPECT_EQ(Logins(sink), "PLAIN u ok\nPLAIN u ok\n");
}

TEST_F(SmtpTls, CertificatesThatDoNotVerifyGetNoLogin) {
    certs.MakeServer("other", "DNS:other.test");
    SmtpSink wrongName({"--cert", certs.Cert("other"), "--key", certs.Key("other"), "--login", "u:p"});
    auto mail = Mailer(wrongName, TTlsMode::Required);
    EXPECT_FALSE(mail->Send(20));
    EXPECT_NE(mail->GetErrorText().find("certificate not accepted: IP address mismatch"), std::string::npos)
        << mail->GetErrorText();

    SmtpSink unknownAuthority(Options({"--implicit", "--login", "u:p"}));
    mail = Mailer(unknownAuthority, TTlsMode::Implicit);
    mail->Security.Certificates.CaFile.clear();  // the system's store does not know the test's authority
    EXPECT_FALSE(mail->Send(20));
    EXPECT_NE(mail->GetErrorText().find("certificate not accepted"), std::string::npos) << mail->GetErrorText();
    EXPECT_EQ(Logins(wrongName) + Logins(unknownAuthority), "");

    // Switched off explicitly: the mail goes, and every send says so.
    std::vector<std::string> log;
    mail->Security.Certificates.Verify = false;
    mail->OnLog = [&](const std::string& line) { log.push_back(line); };
    ASSERT_TRUE(mail->Send(20)) << mail->GetErrorText();
    ASSERT_TRUE(mail->Send(20)) << mail->GetErrorText();
    ASSERT_EQ(log.size(), 2u);
    EXPECT_NE(log[0].find("not checked"), std::string::npos);
}

TEST_F(SmtpTls, RelayWithoutStartTlsGetsNoLogin) {
    SmtpSink plain({"--login", "u:p", "--login-without-tls"});  // offers AUTH in plain text
    auto mail = Mailer(plain, TTlsMode::Required);
    EXPECT_FALSE(mail->Send(20));
    EXPECT_NE(mail->GetErrorText().find("offers no STARTTLS"), std::string::npos) << mail->GetErrorText();
    mail->Security.Tls = TTlsMode::StartTls;  // TLS when offered: still no login in plain text
    EXPECT_FALSE(mail->Send(20));
    EXPECT_NE(mail->GetErrorText().find("without TLS"), std::string::npos) << mail->GetErrorText();
    EXPECT_EQ(Logins(plain), "");
    mail->Security.LoginWithoutTls = true;
    ASSERT_TRUE(mail->Send(20)) << mail->GetErrorText();
    EXPECT_EQ(Logins(plain), "PLAIN u ok\n");
}

TEST(SmtpSecureScripted, EhloRefusedAndTextInjectedBeforeTls) {
    auto greetRefusing = [](RelayConnection& c) {
        c.Send("220 relay.test ready\r\n");
        c.Answer("502 EHLO not here\r\n");
    };
    ScriptedRelay relay({[&](RelayConnection& c) {
                             greetRefusing(c);
                             c.Answer("250 relay.test\r\n");
                             c.Answer("250 ok\r\n");
                             c.Answer("250 ok\r\n");
                             c.Answer("354 go\r\n");
                             c.AnswerData("250 queued\r\n");
                             c.Answer("221 bye\r\n");
                         },
                         greetRefusing,
                         [](RelayConnection& c) {
                             c.Send("220 relay.test ready\r\n");
                             c.Answer("250-relay.test\r\n250-AUTH PLAIN\r\n250 STARTTLS\r\n");
                             c.Answer("220 go ahead\r\n250-relay.test\r\n250 AUTH PLAIN\r\n");
                         }});
    auto mail = std::make_unique<TSmtpSendMail>();
    mail->RemoteHost = "127.0.0.1";
    mail->RemotePort = std::to_string(relay.Port());
    mail->MailFrom = "alice@example.test";
    mail->MailTo = "bob@example.test";
    mail->Security.Tls = TTlsMode::StartTls;  // neither TLS nor a login required: HELO it is
    EXPECT_TRUE(mail->Send(20)) << mail->GetErrorText();
    mail->Security.User = "u";  // a login needs EHLO
    EXPECT_FALSE(mail->Send(20));
    EXPECT_FALSE(mail->Send(20));
    EXPECT_NE(mail->GetErrorText().find("after its answer to STARTTLS"), std::string::npos) << mail->GetErrorText();
    mail.reset();
    std::string host;
    ASSERT_TRUE(GetHostName(host));
    EXPECT_EQ(relay.Transcript(0).rfind("EHLO " + host + "\r\nHELO " + host + "\r\nMAIL FROM:", 0), 0u) << relay.Transcript(0);
    EXPECT_EQ(relay.Transcript(1), "EHLO " + host + "\r\n");
    EXPECT_EQ(relay.Transcript(2), "EHLO " + host + "\r\nSTARTTLS\r\n");
}

TEST(SmtpCapabilities, Keywords) {
    TSmtpCapabilities c = ParseCapabilities(
        "250-relay.test STARTTLS AUTH PLAIN\r\n250-xstarttls\r\n250-auth=login cram-md5\r\n250 starttls\r\n250-AUTH PLAIN\r\n");
    EXPECT_TRUE(c.StartTls);
    EXPECT_TRUE(c.AuthLogin);
    EXPECT_FALSE(c.AuthPlain);  // the greeting line and text after the reply name nothing
    c = ParseCapabilities("250-relay.test\r\n250 AUTH\tPLAIN\r\n");
    EXPECT_TRUE(c.AuthPlain);
    EXPECT_FALSE(c.StartTls || c.AuthLogin);
}

}  // namespace
}  // namespace velmora
