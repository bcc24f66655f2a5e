// TNSAPIEngine's answer and body: headers kept in the server's header block until the server
// sends them, bytes to the client through net_write, the body read through the session's input
// buffer, and locks that are the server's critical sections.
#include <algorithm>
#include <cstring>

#include "NSapiEng.h"
#include "NsapiBinding.h"

namespace velmora {

using namespace nsapi;

namespace {

// The bound function; a request never gets here without it, as the service entry checks them
// all first, so a missing one is a fault of the call outside a request.
template <class F>
F Require(size_t index) {
    if (auto f = Server<F>(index)) return f;
    throw Exception("The server function " + std::string(ServerFunctionNames[index]) + " is not bound");
}

}  // namespace

void TNSAPIEngine::SendDirect(const void* data, int count) {
    TNsapiRequestState& st = NsapiRequestState();
    if (count <= 0 || !IsDirectOutput() || st.BodySuppressed || !st.Session) return;
    Require<net_write_t>(FunctionIndex("net_write"))(st.Session->csd,
                                                     static_cast<char*>(const_cast<void*>(data)), count);
}

void TNSAPIEngine::Write(const std::string& s) {
    THttpEngine::Write(s);
    SendDirect(s.data(), static_cast<int>(s.size()));
}

void TNSAPIEngine::WriteBuffer(const void* buffer, int count) {
    THttpEngine::WriteBuffer(buffer, count);
    SendDirect(buffer, count);
}

// A header written again replaces the earlier value. Nothing is sent yet: the server sends the
// whole block with the status line when the headers end.
void TNSAPIEngine::WriteHeader(const std::string& name, const std::string& value) {
    Request* rq = NsapiRequestState().Request;
    if (!rq) return;
    auto remove = Require<pblock_fr_t>(FunctionIndex("_pblock_fr"));
    auto free = Require<param_free_t>(FunctionIndex("param_free"));
    auto insert = Require<pblock_nvinsert_t>(FunctionIndex("pblock_nvinsert"));
    free(remove(name.c_str(), rq->srvhdrs, -1));
    insert(name.c_str(), value.c_str(), rq->srvhdrs);
}

// A buffered answer ends its headers again when it is flushed, with its length known. The status
// is 200 unless the request set another ("413 Payload Too Large": code, blank, reason). A HEAD
// request's answer has no body: the server says so, and nothing more of this request is sent.
void TNSAPIEngine::EndHeaders() {
    if (BufferedOutput && !IsDirectOutput()) return;
    TNsapiRequestState& st = NsapiRequestState();
    if (!st.Session || !st.Request) return;
    const std::string& status = RequestState().Status;
    const size_t blank = status.find(' ');
    int code = 200;
    std::string reason;
    if (!TryStrToInt(status.substr(0, blank), code) || code < 100 || code > 999)
        code = 200;
    else if (blank != std::string::npos)
        reason = status.substr(blank + 1);
    Require<http_status_t>(FunctionIndex("http_status"))(st.Session, st.Request, code,
                                                        reason.empty() ? nullptr : reason.data());
    const int started = Require<http_start_response_t>(FunctionIndex("http_start_response"))(st.Session, st.Request);
    if (started == REQ_NOACTION) st.BodySuppressed = true;
}

// Refills the exhausted buffer through the server. netbuf_next answers 0 both at the end of input
// and for a zero byte; emptying the buffer first tells them apart, as only a refill moves the
// position past the byte it returns. Binary uploads hold zero bytes, which must not end the body.
int TNSAPIEngine::ReadByte(netbuf* buf) {
    buf->pos = 0;
    buf->cursize = 0;
    const int c = Require<netbuf_next_t>(FunctionIndex("netbuf_next"))(buf, 1);
    if (c > 0) return c & 0xFF;
    return c == 0 && buf->pos > 0 ? 0 : -1;
}

// Bytes still in the buffer are copied at once; the server is asked for more only when it is
// empty. Returns fewer than count at the end of input or on an error.
int TNSAPIEngine::ReadClient(void* buffer, int count) {
    Session* sn = NsapiRequestState().Session;
    if (!sn || !sn->inbuf || count <= 0) return 0;
    netbuf* buf = sn->inbuf;
    auto* out = static_cast<unsigned char*>(buffer);
    int done = 0;
    while (done < count) {
        if (buf->inbuf && buf->pos >= 0 && buf->pos < buf->cursize) {
            const int n = std::min(count - done, buf->cursize - buf->pos);
            std::memcpy(out + done, buf->inbuf + buf->pos, static_cast<size_t>(n));
            buf->pos += n;
            done += n;
            continue;
        }
        const int c = ReadByte(buf);
        if (c < 0) break;
        out[done++] = static_cast<unsigned char>(c);
    }
    return done;
}

TLockHandle TNSAPIEngine::CreateLock() { return Require<crit_init_t>(FunctionIndex("crit_init"))(); }

void TNSAPIEngine::EnterLock(TLockHandle lock) {
    if (lock) Require<crit_call_t>(FunctionIndex("crit_enter"))(lock);
}

void TNSAPIEngine::LeaveLock(TLockHandle lock) {
    if (lock) Require<crit_call_t>(FunctionIndex("crit_exit"))(lock);
}

void TNSAPIEngine::FreeLock(TLockHandle lock) {
    if (lock) Require<crit_call_t>(FunctionIndex("crit_terminate"))(lock);
}

}  // namespace velmora
