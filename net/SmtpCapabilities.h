// What a relay's answer to EHLO offers (RFC 5321 4.1.1.1): STARTTLS and the AUTH mechanisms the
// sender can use, read from the keyword lines after the greeting line of the 250 reply.
#pragma once

#include <string>

namespace velmora {

struct TSmtpCapabilities {
    bool StartTls = false;
    bool AuthPlain = false;
    bool AuthLogin = false;
    bool Pipelining = false;  // RFC 2920: commands may go out in one batch
};

// Reads a complete EHLO reply. Keywords and mechanisms are compared without regard to case; the
// old "AUTH=" form counts like "AUTH ". Anything it does not know is ignored.
TSmtpCapabilities ParseCapabilities(const std::string& reply);

}  // namespace velmora
