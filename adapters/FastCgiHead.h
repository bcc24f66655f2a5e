// The head of a FastCGI request (BEGIN_REQUEST and its parameters), checked as it waits in the
// connection before the protocol library reads it: the library believes every length it is told.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace velmora {

// The largest request head taken: web servers send a few kilobytes of parameters; more than
// this is not a request a form handler needs, and the whole head must wait in the socket's buffer.
constexpr size_t kMaxFastCgiHead = 128 * 1024;

enum class THeadCheck {
    Incomplete,  // sound so far; more bytes are needed
    Good,        // BEGIN_REQUEST, parameter records and their empty end, every pair within them
    Refused,     // see Reason
};

struct THeadVerdict {
    THeadCheck Check = THeadCheck::Incomplete;
    std::string Reason;
};

// Checks the bytes at the start of a connection (or of a kept connection's next request). Refused:
// a record of another version, a management record (request id 0), a first record other than an
// 8-byte BEGIN_REQUEST, any record of another request or type before the parameters end, a name
// or value length reaching past the parameters' end, or a head above kMaxFastCgiHead.
THeadVerdict CheckFastCgiHead(std::string_view bytes);

}  // namespace velmora
