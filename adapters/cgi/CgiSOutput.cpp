// TCGIStdEngine's answer path: the base's header and buffering rules first, then the bytes go to
// the thread's output stream (standard output) whenever output is direct.
#include "CgiSEng.h"

namespace velmora {

void TCGIStdEngine::SendDirect(const void* data, long count) {
    TStream* out = CGIRequestState().OutputStream.get();
    // A web server that has gone away loses the rest of the answer; the request still ends normally.
    if (out && count > 0 && IsDirectOutput()) out->Write(data, count);
}

void TCGIStdEngine::Write(const std::string& s) {
    THttpEngine::Write(s);
    SendDirect(s.data(), static_cast<long>(s.size()));
}

void TCGIStdEngine::WriteBuffer(const void* buffer, int count) {
    THttpEngine::WriteBuffer(buffer, count);
    SendDirect(buffer, count);
}

void TCGIStdEngine::EndHeaders() {
    static const char kCrLf[] = "\r\n";
    THttpEngine::Write(kCrLf);
    SendDirect(kCrLf, 2);
}

// The rule is the base's ("HTTP/1.1 200 OK" unless the server software names Apache or Netscape,
// which take a CGI answer's headers without a status line); kept here as the CGI engine's own.
void TCGIStdEngine::WriteStatusLine() { THttpEngine::WriteStatusLine(); }

}  // namespace velmora
