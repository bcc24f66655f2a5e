// TFastCGIEngine's answer path: the base's header and buffering rules, then the bytes are kept for
// the answer's records, which the event loop writes once the request has ended. A FastCGI answer is
// a CGI answer: never an "HTTP/1.1" status line (nginx drops it and answers 200), a status other
// than 200 as a "Status:" header line.
#include "FastCgiEng.h"

namespace velmora {

void TFastCGIEngine::SendDirect(const void* data, int count) {
    TFastCGIRequestState& st = FastCGIRequestState();
    if (st.Request && count > 0 && IsDirectOutput()) st.Out.append(static_cast<const char*>(data), static_cast<size_t>(count));
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
