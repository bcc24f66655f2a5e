// TFastCGIEngine's answer path: the base's header and buffering rules, then the bytes go to the
// request's output stream. A FastCGI answer is a CGI answer: never an "HTTP/1.1" status line (nginx
// drops it and answers 200), a status other than 200 as a "Status:" header line.
#include <fcgiapp.h>

#include "FastCgiEng.h"

namespace velmora {

// A server that has gone away loses the rest of the answer; the library notes the error and the
// request still ends normally (its connection is then closed).
void TFastCGIEngine::SendDirect(const void* data, int count) {
    FCGX_Request* request = FastCGIRequestState().Request;
    if (request && request->out && count > 0 && IsDirectOutput())
        FCGX_PutStr(static_cast<const char*>(data), count, request->out);
}

void TFastCGIEngine::Write(const std::string& s) {
    THttpEngine::Write(s);
    SendDirect(s.data(), static_cast<int>(s.size()));
}

void TFastCGIEngine::WriteBuffer(const void* buffer, int count) {
    THttpEngine::WriteBuffer(buffer, count);
    SendDirect(buffer, count);
}

void TFastCGIEngine::WriteStatusLine() {
    const std::string& status = RequestState().Status;
    if (!status.empty()) WriteLn("Status: " + status);
}

}  // namespace velmora
