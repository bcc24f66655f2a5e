// Complete replies out of the relay's byte stream, however it was cut into segments.
#include <gtest/gtest.h>

#include "SmtpReply.h"

namespace velmora {
namespace {

TEST(SmtpReply, CompleteReplyCutAtEveryOffset) {
    const std::string replies[] = {
        "220 relay ready\r\n",
        "220-relay.test greets you\r\n220-second line\r\n220 last line\r\n",
        "250 OK\n",
        "hello\r\n",  // no code: still one reply (the code then reads as -1)
        "250-\r\n250\r\n",
    };
    for (const std::string& reply : replies) {
        std::string stream = reply + "354 next reply\r\n";
        for (size_t cut = 0; cut < reply.size(); ++cut)
            EXPECT_EQ(CompleteReplyLength(reply.substr(0, cut)), 0u) << reply << " cut at " << cut;
        EXPECT_EQ(CompleteReplyLength(reply), reply.size());
        EXPECT_EQ(CompleteReplyLength(stream), reply.size());
    }
    std::string endless;
    while (endless.size() <= kMaxReplyLength) endless += "250-more\r\n";
    EXPECT_EQ(CompleteReplyLength(endless), endless.size());
}

TEST(SmtpReply, Code) {
    EXPECT_EQ(ReplyCodeOf("250 OK\r\n"), 250);
    EXPECT_EQ(ReplyCodeOf("221-bye\r\n221 bye\r\n"), 221);
    EXPECT_EQ(ReplyCodeOf("25"), -1);
    EXPECT_EQ(ReplyCodeOf(" 250 OK"), -1);
    EXPECT_EQ(ReplyCodeOf("-12 x"), -1);
    EXPECT_EQ(ReplyCodeOf("hello"), -1);
}

}  // namespace
}  // namespace velmora
