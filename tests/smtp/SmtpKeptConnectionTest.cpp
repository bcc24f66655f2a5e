// The sender's kept connection against a scripted relay: RSET between messages, the envelope in
// one batch where PIPELINING is offered (led by that RSET, and its refusals read in order), a new
// connection after a dropped one, and QUIT after the hundredth message.
#include <gtest/gtest.h>

#include <functional>
#include <memory>

#include "HSmtp.h"
#include "ScriptedRelay.h"

namespace velmora {
namespace {

using test::RelayConnection;
using test::ScriptedRelay;

const std::string kEnvelope = "MAIL FROM:<alice@example.test>\r\nRCPT TO:<bob@example.test>\r\nDATA\r\n";

std::unique_ptr<TSmtpSendMail> KeepingMailer(int port) {
    auto m = std::make_unique<TSmtpSendMail>();
    m->RemoteHost = "127.0.0.1";
    m->RemotePort = std::to_string(port);
    m->MailFrom = "alice@example.test";
    m->MailTo = "bob@example.test";
    m->MailBody().Add("line one");
    m->KeepConnection = true;
    return m;
}

void Greet(RelayConnection& c, bool pipelining) {
    c.Send("220 ready\r\n");
    c.Answer(pipelining ? "250-relay\r\n250 PIPELINING\r\n" : "250 relay\r\n");
}

// One message's envelope and text. A pipelining relay reads all three commands before it
// answers any: a client that waited for each answer would stall here and fail its Send.
void TakeMessage(RelayConnection& c, bool pipelining, const std::string& replies = "250 ok\r\n250 ok\r\n354 go\r\n") {
    if (pipelining) {
        for (int i = 0; i < 3; ++i) c.ReadLine();
        c.Send(replies);
    } else {
        c.Answer("250 ok\r\n");
        c.Answer("250 ok\r\n");
        c.Answer("354 go\r\n");
    }
    c.AnswerData("250 queued\r\n");
}

}  // namespace

TEST(SmtpKeptConnection, TwoMessagesShareOneConnectionWithRsetBetween) {
    for (bool pipelining : {false, true}) {
        SCOPED_TRACE(pipelining ? "PIPELINING" : "one command at a time");
        ScriptedRelay relay({[&](RelayConnection& c) {
            Greet(c, pipelining);
            TakeMessage(c, pipelining);
            // A pipelining relay reads the RSET with the envelope before it answers either: a
            // client that waited for the RSET's answer first would stall.
            if (pipelining) {
                c.ReadLine();
                TakeMessage(c, true, "250 reset\r\n250 ok\r\n250 ok\r\n354 go\r\n");
            } else {
                c.Answer("250 reset\r\n");
                TakeMessage(c, false);
            }
            c.Answer("221 bye\r\n");
        }});
        auto m = KeepingMailer(relay.Port());
        EXPECT_TRUE(m->Send(10)) << m->GetErrorText();
        EXPECT_TRUE(m->HoldsKeptConnection());
        EXPECT_TRUE(m->Send(10)) << m->GetErrorText();
        m->CloseKept();
        EXPECT_FALSE(m->HoldsKeptConnection());
        EXPECT_EQ(relay.Connections(), 1u);
        const std::string& t = relay.Transcript(0);
        EXPECT_EQ(t.rfind("EHLO ", 0), 0u) << t;
        size_t first = t.find(kEnvelope), rset = t.find("\r\n.\r\nRSET\r\n" + kEnvelope);
        EXPECT_NE(first, std::string::npos) << t;
        EXPECT_NE(rset, std::string::npos) << t;
        EXPECT_EQ(t.substr(t.size() - 6), "QUIT\r\n");
    }
}

// Pipelined refusals: the first one is the one reported, and the message text never goes out
// even where the relay said 354.
TEST(SmtpKeptConnection, PipelinedRefusalsAreReadInOrder) {
    struct Case {
        const char* Replies;
        int Code;
    } cases[] = {
        {"250 ok\r\n550 no such user\r\n554 no valid recipients\r\n", 550},
        {"451 try later\r\n503 sender first\r\n503 sender first\r\n", 451},
        {"250 ok\r\n550 no such user\r\n354 go\r\n", 550},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(k.Replies);
        ScriptedRelay relay({[&](RelayConnection& c) {
            Greet(c, true);
            for (int i = 0; i < 3; ++i) c.ReadLine();
            c.Send(k.Replies);
        }});
        auto m = KeepingMailer(relay.Port());
        EXPECT_FALSE(m->Send(10));
        EXPECT_EQ(m->ReplyCode(), k.Code) << m->GetErrorText();
        EXPECT_FALSE(m->HoldsKeptConnection());
        EXPECT_EQ(relay.Transcript(0).find("line one"), std::string::npos) << relay.Transcript(0);
    }
}

// The relay dropped the idle kept connection, or refused its RSET: nothing of the message went
// out (pipelined, the envelope did), so the message goes over a new connection, once.
TEST(SmtpKeptConnection, ADroppedConnectionIsReplacedBeforeTheMessage) {
    struct Case {
        const char* what;
        bool pipelining;
        std::function<void(RelayConnection&)> drop;
    } cases[] = {
        {"closed, one command at a time", false, [](RelayConnection& c) { c.Close(); }},
        {"closed, pipelining", true, [](RelayConnection& c) { c.Close(); }},
        {"RSET refused, the batch answered", true,
         [](RelayConnection& c) {
             for (int i = 0; i < 4; ++i) c.ReadLine();
             c.Send("421 shutting down\r\n250 ok\r\n250 ok\r\n354 go\r\n");
         }},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(k.what);
        ScriptedRelay relay({[&](RelayConnection& c) {
                                 Greet(c, k.pipelining);
                                 TakeMessage(c, k.pipelining);
                                 k.drop(c);
                             },
                             [&](RelayConnection& c) {
                                 Greet(c, k.pipelining);
                                 TakeMessage(c, k.pipelining);
                                 c.Answer("221 bye\r\n");
                             }});
        auto m = KeepingMailer(relay.Port());
        ASSERT_TRUE(m->Send(10)) << m->GetErrorText();
        EXPECT_TRUE(m->Send(10)) << m->GetErrorText();
        m->CloseKept();
        EXPECT_EQ(relay.Connections(), 2u);
        EXPECT_EQ(relay.Transcript(1).find("RSET"), std::string::npos);
        // The message's text went out once, over the new connection.
        EXPECT_EQ(relay.Transcript(0).find("line one", relay.Transcript(0).find("line one") + 1), std::string::npos);
        EXPECT_NE(relay.Transcript(1).find("line one"), std::string::npos);
    }
}

TEST(SmtpKeptConnection, TheHundredthMessageEndsTheConnection) {
    ScriptedRelay relay({[](RelayConnection& c) {
                             Greet(c, true);
                             for (int n = 1; n <= TSmtpSendMail::kKeptMessages; ++n) {
                                 if (n > 1) c.Answer("250 reset\r\n");
                                 TakeMessage(c, true);
                             }
                             c.Answer("221 bye\r\n");
                         },
                         [](RelayConnection& c) {
                             Greet(c, true);
                             TakeMessage(c, true);
                             c.Answer("221 bye\r\n");
                         }});
    auto m = KeepingMailer(relay.Port());
    for (int n = 1; n <= TSmtpSendMail::kKeptMessages + 1; ++n) ASSERT_TRUE(m->Send(10)) << n << ": " << m->GetErrorText();
    m->CloseKept();
    EXPECT_EQ(relay.Connections(), 2u);
    EXPECT_EQ(relay.Transcript(0).substr(relay.Transcript(0).size() - 6), "QUIT\r\n");
}

}  // namespace velmora
