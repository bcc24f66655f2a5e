// The SMTP sender against a scripted relay: refusals, silence, nothing listening, multi-line and
// split replies, QUIT answered wrongly, a connection dropped during DATA; exact transcripts.
#include <gtest/gtest.h>

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <ctime>
#include <memory>
#include <thread>

#include "HSmtp.h"
#include "ScriptedRelay.h"

namespace velmora {
namespace {

using test::RelayConnection;
using test::ScriptedRelay;

const std::string kMessage =
    "From: <alice@example.test>\r\nTo: <bob@example.test>\r\nSubject: Hi \r\nMime-Version: 1.0\r\n"
    "Content-Type: text/plain; charset=iso-8859-1\r\n\r\nline one\r\n..\r\n\r\n.\r\n";

std::string Helo() {
    std::string host;
    EXPECT_TRUE(GetHostName(host));
    return "HELO " + host + "\r\n";
}

// The transcript of a whole dialogue after the given HELO lines.
std::string Dialogue(const std::string& helo) {
    return helo + "MAIL FROM:<alice@example.test>\r\nRCPT TO:<bob@example.test>\r\nDATA\r\n" +
           kMessage + "QUIT\r\n";
}

std::unique_ptr<TSmtpSendMail> Mailer(int port) {
    auto m = std::make_unique<TSmtpSendMail>();
    m->RemoteHost = "127.0.0.1";
    m->RemotePort = std::to_string(port);
    m->MailFrom = "alice@example.test";
    m->MailTo = "bob@example.test";
    m->MailSubject = "Hi";
    m->MailBody().Add("line one");
    m->MailBody().Add(".");
    return m;
}

double ThreadCpuSeconds() {
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) / 1e9;
}

double Seconds(std::chrono::steady_clock::time_point since) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}

void Pause() { std::this_thread::sleep_for(std::chrono::milliseconds(150)); }

TEST(SmtpScripted, GreetingWithoutCodeThenHeloWithNameRefusedBareHeloAccepted) {
    ScriptedRelay relay({[](RelayConnection& c) {
        c.Send("ESMTP ready\r\n");
        c.Answer("501 no names here\r\n");
        c.Answer("250 relay.test\r\n");
        c.Answer("250 ok\r\n");
        c.Answer("250 ok\r\n");
        c.Answer("354 go ahead\r\n");
        c.AnswerData("250 queued\r\n");
        c.Answer("221 bye\r\n");
    }});
    auto mail = Mailer(relay.Port());
    EXPECT_TRUE(mail->Send(20)) << mail->GetErrorText();
    EXPECT_EQ(mail->State(), ssReady);
    mail.reset();
    EXPECT_EQ(relay.Transcript(0), Dialogue(Helo() + "HELO\r\n"));
}

TEST(SmtpScripted, RefusedRecipientReportsTheReplyAndTheNextSendStartsAfresh) {
    bool clientClosed = false;
    ScriptedRelay relay({[&](RelayConnection& c) {
                             c.Send("220 relay.test ready\r\n");
                             c.Answer("250 relay.test\r\n");
                             c.Answer("250 ok\r\n");
                             c.Answer("550 5.1.1 <bob@example.test>: no such user\r\n");
                             clientClosed = c.WaitClosed(5000);
                         },
                         [](RelayConnection& c) { test::NormalDialogue(c); }});
    auto mail = Mailer(relay.Port());
    EXPECT_FALSE(mail->Send(20));
    EXPECT_EQ(mail->ReplyCode(), 550);
    EXPECT_EQ(mail->GetErrorText(), "550 5.1.1 <bob@example.test>: no such user\r\n");
    EXPECT_EQ(mail->State(), ssReady);  // the failed dialogue's connection is closed
    EXPECT_TRUE(mail->Send(20)) << mail->GetErrorText();
    mail.reset();
    EXPECT_TRUE(clientClosed);
    EXPECT_EQ(relay.Transcript(0),
              Helo() + "MAIL FROM:<alice@example.test>\r\nRCPT TO:<bob@example.test>\r\n");
    EXPECT_EQ(relay.Transcript(1), Dialogue(Helo()));
}

TEST(SmtpScripted, SilentRelayTimesOutWithoutSpinning) {
    ScriptedRelay relay({[](RelayConnection&) {}});  // accepts, then only listens
    auto mail = Mailer(relay.Port());
    auto start = std::chrono::steady_clock::now();
    double cpu = ThreadCpuSeconds();
    EXPECT_FALSE(mail->Send(20));
    cpu = ThreadCpuSeconds() - cpu;
    double elapsed = Seconds(start);
    EXPECT_EQ(mail->GetErrorText(), "SendMessage timeout");
    EXPECT_GE(elapsed, 19.9);
    EXPECT_LT(elapsed, 21.0);
    EXPECT_LT(cpu, 0.1) << "the wait must block, not poll in a loop";
    mail.reset();
    EXPECT_EQ(relay.Transcript(0), "");  // nothing is said to a relay that has not greeted
}

TEST(SmtpScripted, NothingListening) {
    // A port that was free a moment ago and has no listener now.
    int s = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    ASSERT_EQ(::bind(s, reinterpret_cast<sockaddr*>(&a), len), 0);
    ASSERT_EQ(::getsockname(s, reinterpret_cast<sockaddr*>(&a), &len), 0);
    ::close(s);
    auto mail = Mailer(ntohs(a.sin_port));
    auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(mail->Send(2));
    EXPECT_EQ(mail->GetErrorText(), "Connection refused");
    EXPECT_LT(Seconds(start), 2.5);
    // The refused attempt does not stay behind: the next Send tries again and fails the same way.
    EXPECT_FALSE(mail->Send(1));
    EXPECT_EQ(mail->GetErrorText(), "Connection refused");
}

TEST(SmtpScripted, MultiLineRepliesKeepTheDialogueInStep) {
    ScriptedRelay relay({[](RelayConnection& c) {
        c.Send("220-relay.test greets you\r\n220-use of this relay is logged\r\n220 ready\r\n");
        c.Answer("250-relay.test\r\n250-PIPELINING\r\n250 8BITMIME\r\n");
        c.Answer("250-sender\r\n250 ok\r\n");
        c.Answer("250-recipient\r\n250 ok\r\n");
        c.Answer("354-go\r\n354 ahead\r\n");
        c.AnswerData("250-queued\r\n250 as 42\r\n");
        c.Answer("221-closing\r\n221 bye\r\n");
    }});
    auto mail = Mailer(relay.Port());
    EXPECT_TRUE(mail->Send(20)) << mail->GetErrorText();
    EXPECT_EQ(mail->LastReply(), "221-closing\r\n221 bye\r\n");
    mail.reset();
    EXPECT_EQ(relay.Transcript(0), Dialogue(Helo()));
}

TEST(SmtpScripted, RepliesSplitAcrossSegments) {
    ScriptedRelay relay({[](RelayConnection& c) {
        c.Send("220 rel");
        Pause();
        c.Send("ay ready\r\n");
        c.ReadLine();
        c.Send("25");
        Pause();
        c.Send("0 relay.test\r\n");
        c.ReadLine();
        c.Send("250-sender\r");
        Pause();
        c.Send("\n250 ok\r\n");
        c.Answer("250 recipient ok\r\n");
        c.Answer("354 go ahead\r\n");
        c.ReadUntil("\r\n.\r\n");
        c.Send("250 que");
        Pause();
        c.Send("ued\r\n");
        c.Answer("221 bye\r\n");
    }});
    auto mail = Mailer(relay.Port());
    EXPECT_TRUE(mail->Send(20)) << mail->GetErrorText();
    mail.reset();
    EXPECT_EQ(relay.Transcript(0), Dialogue(Helo()));
}

TEST(SmtpScripted, QuitAnsweredWith250) {
    ScriptedRelay relay({[](RelayConnection& c) { test::NormalDialogue(c, "250 what?\r\n"); }});
    auto mail = Mailer(relay.Port());
    EXPECT_FALSE(mail->Send(20));
    EXPECT_EQ(mail->GetErrorText(), "250 what?\r\n");
    EXPECT_EQ(mail->State(), ssReady);
    mail.reset();
    EXPECT_EQ(relay.Transcript(0), Dialogue(Helo()));
}

TEST(SmtpScripted, NoRecipientAtAll) {
    ScriptedRelay relay({[](RelayConnection& c) {
        c.Send("220 relay.test ready\r\n");
        c.Answer("250 relay.test\r\n");
        c.Answer("250 ok\r\n");
        c.Answer("503 5.5.1 need RCPT first\r\n");
    }});
    auto mail = Mailer(relay.Port());
    mail->MailTo = "";
    EXPECT_FALSE(mail->Send(20));
    EXPECT_EQ(mail->GetErrorText(), "503 5.5.1 need RCPT first\r\n");
    mail.reset();
    EXPECT_EQ(relay.Transcript(0), Helo() + "MAIL FROM:<alice@example.test>\r\nDATA\r\n");
}

TEST(SmtpScripted, RelayThatReadsSlowlyGetsTheWholeMessage) {
    // The relay takes its time before reading the message: the sender's buffer runs full and
    // sending has to wait for room, again and again, without losing a byte.
    ScriptedRelay relay({[](RelayConnection& c) {
        test::AnswerUntilData(c);
        std::this_thread::sleep_for(std::chrono::milliseconds(500));
        c.AnswerData("250 queued\r\n");
        c.Answer("221 bye\r\n");
    }});
    auto mail = Mailer(relay.Port());
    mail->MailBody().Clear();
    std::string body;
    for (int i = 0; i < 100000; ++i) {
        std::string line = std::to_string(i) + std::string(72, 'x');
        mail->MailBody().Add(line);
        body += line + "\r\n";
    }
    // Eight megabytes through a relay that pauses: the budget is what a loaded machine under the
    // sanitizers may need, not what is measured here (the budget has tests of its own below).
    EXPECT_TRUE(mail->Send(600)) << mail->GetErrorText();
    mail.reset();
    std::string message = kMessage;
    message.replace(message.find("line one"), std::string("line one\r\n..\r\n").size(), body);
    EXPECT_EQ(relay.Transcript(0), Helo() +
                                       "MAIL FROM:<alice@example.test>\r\nRCPT TO:<bob@example.test>\r\n"
                                       "DATA\r\n" + message + "QUIT\r\n");
}

TEST(SmtpScripted, RelayThatStopsReadingCannotStretchTheBudget) {
    ScriptedRelay relay({[](RelayConnection& c) {
        test::AnswerUntilData(c);
        std::this_thread::sleep_for(std::chrono::seconds(4));  // reads nothing of the message
    }});
    auto mail = Mailer(relay.Port());
    for (int i = 0; i < 100000; ++i) mail->MailBody().Add(std::string(78, 'x'));
    auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(mail->Send(2));
    EXPECT_LT(Seconds(start), 3.0);
}

TEST(SmtpScripted, ConnectionDroppedDuringDataThenFreshConnection) {
    ScriptedRelay relay({[](RelayConnection& c) {
                             test::AnswerUntilData(c);
                             c.ReadLine();
                             c.Close();
                         },
                         [](RelayConnection& c) { test::NormalDialogue(c); }});
    auto mail = Mailer(relay.Port());
    // A body large enough to be still on its way when the relay hangs up.
    for (int i = 0; i < 4000; ++i) mail->MailBody().Add(std::string(70, 'b'));
    EXPECT_FALSE(mail->Send(20));
    EXPECT_NE(mail->GetErrorText(), "");
    EXPECT_EQ(mail->State(), ssReady);
    mail->MailBody().Clear();
    mail->MailBody().Add("line one");
    mail->MailBody().Add(".");
    EXPECT_TRUE(mail->Send(20)) << mail->GetErrorText();
    mail.reset();
    EXPECT_EQ(relay.Transcript(1), Dialogue(Helo()));
}

}  // namespace
}  // namespace velmora

namespace velmora {
namespace {

// The reply to the end of the data: a relay that answers after the budget is waited for when a
// final-reply wait is set, and one that hangs up instead is told apart from a refusal.
TEST(SmtpScripted, FinalReplyAfterTheBudget) {
    struct Case {
        const char* name;
        uint64_t finalWaitMs;
        bool hangUp;  // instead of answering
        bool accepted, unanswered;
    };
    const Case cases[] = {
        {"late 250 awaited", 5000, false, true, false},
        {"late 250 given up", 0, false, false, true},
        {"hung up after the data", 5000, true, false, true},
    };
    for (const Case& k : cases) {
        ScriptedRelay relay({[&](RelayConnection& c) {
            test::AnswerUntilData(c);
            c.ReadUntil("\r\n.\r\n");
            if (k.hangUp) return c.Close();
            std::this_thread::sleep_for(std::chrono::milliseconds(1500));
            c.Send("250 queued\r\n");
            c.Answer("221 bye\r\n");
        }});
        auto mail = Mailer(relay.Port());
        mail->FinalReplyWaitMs = k.finalWaitMs;
        mail->SendWithin(700);
        EXPECT_EQ(mail->DataAccepted(), k.accepted) << k.name;
        EXPECT_EQ(mail->DataUnanswered(), k.unanswered) << k.name;
    }
}

}  // namespace
}  // namespace velmora
