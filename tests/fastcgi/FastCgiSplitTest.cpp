// One connection's state machine fed a request stream with padding, zero-length records and
// management records between its records, cut at every byte: each cut gives the same request
// and the same answers as the whole stream.
#include <gtest/gtest.h>

#include "FastCgiRecords.h"
#include "FcgiConnection.h"

using namespace velmora;
using namespace velmora::test;

namespace {

// A record whose padding bytes are not zero (a peer may put anything there).
std::string Padded(uint8_t type, uint16_t id, const std::string& content, uint8_t padding) {
    std::string r = FcgiRecord(type, id, content);
    r[6] = static_cast<char>(padding);
    return r + std::string(padding, '\xaa');
}

struct Outcome {
    fcgi::TConnection::TPhase Phase;
    std::string Output, Body;
    fcgi::TPairs Params;
};

Outcome Feed(const fcgi::TConnectionRules& rules, const std::vector<std::string_view>& pieces) {
    fcgi::TConnection c(rules);
    for (std::string_view p : pieces) c.Feed(p);
    Outcome o{c.Phase(), c.Output(), {}, {}};
    if (c.Phase() == fcgi::TConnection::TPhase::Ready) {
        fcgi::TRequest r = c.TakeRequest();
        o.Body = r.Body;
        o.Params = r.Params;
    }
    return o;
}

}  // namespace

TEST(FastCgiConnection, SameRequestAndAnswersWhereverTheStreamIsCut) {
    fcgi::TConnectionRules rules;
    rules.MaxConnections = 5;
    const std::string getValues = FcgiRecord(kFcgiGetValues, 0, std::string("\x0e\0FCGI_MAX_CONNS", 16));
    const std::string pairs = std::string("\x0e\x03", 2) + "CONTENT_LENGTH" + "010" + std::string("\x0e\x04", 2) + "REQUEST_METHOD" + "POST";
    const std::string stream = getValues + Padded(kFcgiBegin, 7, std::string("\0\1\0\0\0\0\0\0", 8), 3) +
                               Padded(kFcgiParams, 7, pairs.substr(0, 9), 7) + FcgiRecord(kFcgiGetValues, 0, "") +
                               Padded(kFcgiParams, 7, pairs.substr(9), 1) + FcgiRecord(kFcgiStdin, 9, "") +
                               FcgiRecord(kFcgiParams, 7, "") + Padded(kFcgiStdin, 7, "a=12", 4) + FcgiRecord(99, 0, "") +
                               Padded(kFcgiStdin, 7, "&b=34", 0) + getValues + Padded(kFcgiStdin, 7, "5", 255) +
                               FcgiRecord(kFcgiStdin, 7, "");
    const Outcome whole = Feed(rules, {stream});
    ASSERT_EQ(whole.Phase, fcgi::TConnection::TPhase::Ready);
    EXPECT_EQ(whole.Body, "a=12&b=345");
    EXPECT_EQ(whole.Params, (fcgi::TPairs{{"CONTENT_LENGTH", "010"}, {"REQUEST_METHOD", "POST"}}));
    // Two answers to GET_VALUES, one to the empty one, one UNKNOWN_TYPE for type 99.
    const auto answers = ParseFcgiRecords(whole.Output);
    ASSERT_EQ(answers.size(), 4u);
    EXPECT_EQ(answers[0].Content, std::string("\x0e\x01", 2) + "FCGI_MAX_CONNS5");
    EXPECT_EQ(answers[1].Content, "");
    EXPECT_EQ(answers[2].Type, kFcgiUnknownType);
    EXPECT_EQ(answers[3].Content, answers[0].Content);

    for (size_t cut = 0; cut <= stream.size(); ++cut) {
        const std::string_view s(stream);
        const Outcome split = Feed(rules, {s.substr(0, cut), s.substr(cut)});
        ASSERT_EQ(split.Phase, whole.Phase) << cut;
        ASSERT_EQ(split.Output, whole.Output) << cut;
        ASSERT_EQ(split.Body, whole.Body) << cut;
        ASSERT_EQ(split.Params, whole.Params) << cut;
    }
}
