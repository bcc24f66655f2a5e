// Splitting the relay's byte stream into complete replies: continuation lines ("250-...") are
// collected up to the final line ("250 ..."), however the bytes were cut into TCP segments.
#include "SmtpReply.h"

namespace velmora {

namespace {

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

bool IsContinuation(const std::string& input, size_t lineStart, size_t lineEnd) {
    return lineEnd - lineStart >= 4 && IsDigit(input[lineStart]) && IsDigit(input[lineStart + 1]) &&
           IsDigit(input[lineStart + 2]) && input[lineStart + 3] == '-';
}

}  // namespace

size_t CompleteReplyLength(const std::string& input) {
    size_t start = 0;
    for (;;) {
        size_t lf = input.find('\n', start);
        if (lf == std::string::npos) break;
        if (!IsContinuation(input, start, lf)) return lf + 1;
        start = lf + 1;
    }
    return input.size() > kMaxReplyLength ? input.size() : 0;
}

int ReplyCodeOf(const std::string& reply) {
    if (reply.size() < 3 || !IsDigit(reply[0]) || !IsDigit(reply[1]) || !IsDigit(reply[2]))
        return -1;
    return (reply[0] - '0') * 100 + (reply[1] - '0') * 10 + (reply[2] - '0');
}

}  // namespace velmora
