// Reading SMTP replies out of the received byte stream: where one complete reply (all lines of
// a multi-line reply) ends, and its three-digit code.
#pragma once

#include <cstddef>
#include <string>

namespace velmora {

// A relay that never ends its multi-line reply must not make us store without limit.
constexpr size_t kMaxReplyLength = 64 * 1024;

// Length of the first complete reply at the start of input, 0 while more must arrive. A reply
// ends with the first line that is not "ddd-..." (RFC 5321 4.2.1); lines end in LF (CR LF
// normally). Input beyond kMaxReplyLength without an end counts as complete.
size_t CompleteReplyLength(const std::string& input);

// The reply's code: its first three characters when they are digits, else -1.
int ReplyCodeOf(const std::string& reply);

}  // namespace velmora
