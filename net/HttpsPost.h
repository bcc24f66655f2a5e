// HttpsPost: one form POST over HTTPS with the project's own TCP client and TLS channel (OpenSSL
// stays in the module loaded on first use), for verifying tokens with outside services.
#pragma once

#include <string>

#include "TlsChannel.h"

namespace velmora {

struct THttpsAnswer {
    bool Answered = false;  // a whole HTTP answer arrived; otherwise Error says what happened
    int Status = 0;
    std::string Body;
    std::string Error;
};

// The parts of an https://host[:port]/path address; false when url is no such address (another
// scheme, a host of other characters than letters, digits, "." and "-", a bad port, or a blank
// or control character anywhere).
struct THttpsUrl {
    std::string Host, Port = "443", Path = "/";
};
bool SplitHttpsUrl(const std::string& url, THttpsUrl& parts);

// POSTs form (application/x-www-form-urlencoded) to url and reads the answer (at most 64 KiB of
// body); the certificate is checked as tls says and must name the host. Connecting, the handshake
// and the answer together take at most timeoutMs. Never throws. Uses the calling thread's
// message queue for its waits.
THttpsAnswer HttpsPost(const std::string& url, const std::string& form, const TTlsSettings& tls, int timeoutMs);

}  // namespace velmora
