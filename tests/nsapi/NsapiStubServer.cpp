// A stand-in for an NSAPI web server's core library, for tests: it exports the functions the
// engine binds (plain names, "INT" names or both, by build variant), keeps parameter blocks,
// session, request and input buffer for a request the test gives, and records the answer.
#include <algorithm>
#include <atomic>
#include <cctype>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <vector>

#define STUB_EXPORT extern "C" __attribute__((visibility("default")))

namespace {

// The server's structures, laid out as its published header declares them.
struct pb_param {
    char* name;
    char* value;
};
struct pblock {
    std::vector<pb_param*> entries;
};
struct netbuf {
    void* sd;
    int pos, cursize, maxsize, rdtimeout;
    unsigned char* inbuf;
    char* errmsg;
    char address[64];
};
struct Session {
    pblock* client;
    void* csd;
    netbuf* inbuf;
    int csd_open;
    void* pool;
};
struct Request {
    pblock* vars;
    pblock* reqpb;
    int loadhdrs;
    pblock* headers;
    int senthdrs;
    pblock* srvhdrs;
    void* os;
};

// One request the test asked for; the session's socket names it, so the server functions find it.
struct StubRequest {
    pblock params, client, vars, reqpb, headers, srvhdrs;
    Session sn{};
    Request rq{};
    netbuf nb{};
    std::string body;
    size_t bodyPos = 0;
    int chunk = 0;
    std::vector<unsigned char> buffer;
    int status = 0;
    int started = 0;  // calls of http_start_response
    std::string response;
};

std::atomic<long> gPlainCalls{0}, gInternalCalls{0};

StubRequest* Of(void* sd) { return static_cast<StubRequest*>(sd); }

pb_param* NewParam(const char* name, const char* value) {
    auto* pp = static_cast<pb_param*>(std::malloc(sizeof(pb_param)));
    pp->name = strdup(name);
    pp->value = strdup(value);
    return pp;
}

// Names compare exactly, as the server's blocks compare them.
pb_param* Fr(const char* name, pblock* pb, int remove) {
    for (auto it = pb->entries.begin(); it != pb->entries.end(); ++it) {
        if (std::strcmp((*it)->name, name) != 0) continue;
        pb_param* found = *it;
        if (remove) pb->entries.erase(it);
        return found;
    }
    return nullptr;
}

char* Findval(const char* name, pblock* pb) {
    pb_param* pp = Fr(name, pb, 0);
    return pp ? pp->value : nullptr;
}

int ParamFree(pb_param* pp) {
    if (!pp) return 0;
    std::free(pp->name);
    std::free(pp->value);
    std::free(pp);
    return 1;
}

pb_param* Nvinsert(const char* name, const char* value, pblock* pb) {
    pb->entries.push_back(NewParam(name, value));
    return pb->entries.back();
}

int RequestHeader(char* name, char** value, Session*, Request* rq) {
    *value = Findval(name, rq->headers);
    return *value ? 0 : -1;
}

int HttpStatus(Session* sn, Request*, int n, char*) {
    Of(sn->csd)->status = n;
    return 0;
}

// The status line and the header block, in the order the headers were inserted. A HEAD request
// is told to send no body (REQ_NOACTION).
int HttpStartResponse(Session* sn, Request* rq) {
    StubRequest* r = Of(sn->csd);
    r->started++;
    r->response += "HTTP/1.1 " + std::to_string(r->status) + "\r\n";
    for (pb_param* pp : rq->srvhdrs->entries) r->response += std::string(pp->name) + ": " + pp->value + "\r\n";
    r->response += "\r\n";
    rq->senthdrs = 1;
    const char* method = Findval("method", rq->reqpb);
    return method && std::strcmp(method, "HEAD") == 0 ? -2 : 0;
}

int NetWrite(void* sd, char* buf, int sz) {
    Of(sd)->response.append(buf, static_cast<size_t>(sz));
    return sz;
}

// Refills with the next piece of the body (chunk bytes at most) and returns its first byte, or
// 0 at the end of input, leaving the buffer untouched then.
int NetbufNext(netbuf* buf, int advance) {
    StubRequest* r = Of(buf->sd);
    if (r->bodyPos >= r->body.size()) return 0;
    size_t n = std::min<size_t>(static_cast<size_t>(r->chunk), r->body.size() - r->bodyPos);
    std::memcpy(buf->inbuf, r->body.data() + r->bodyPos, n);
    r->bodyPos += n;
    buf->cursize = static_cast<int>(n);
    buf->pos = advance;
    return buf->inbuf[0];
}

void* CritInit() { return new std::recursive_mutex; }
void CritEnter(void* c) { static_cast<std::recursive_mutex*>(c)->lock(); }
void CritExit(void* c) { static_cast<std::recursive_mutex*>(c)->unlock(); }
void CritTerminate(void* c) { delete static_cast<std::recursive_mutex*>(c); }

}  // namespace

// Each function in the variant's forms; the called ones count which form the engine bound.
#if STUB_PLAIN
#define PLAIN(ret, name, impl, params, args) \
    STUB_EXPORT ret name params { gPlainCalls++; return impl args; }
#define PLAIN_UNCALLED(name) STUB_EXPORT int name() { return 0; }
#else
#define PLAIN(...)
#define PLAIN_UNCALLED(name)
#endif
#if STUB_INTERNAL
#define INTERNAL(ret, name, impl, params, args) \
    STUB_EXPORT ret INT##name params { gInternalCalls++; return impl args; }
#define INTERNAL_UNCALLED(name) STUB_EXPORT int INT##name() { return 0; }
#else
#define INTERNAL(...)
#define INTERNAL_UNCALLED(name)
#endif
#define CALLED(ret, name, impl, params, args) \
    PLAIN(ret, name, impl, params, args) INTERNAL(ret, name, impl, params, args)
#define UNCALLED(name) PLAIN_UNCALLED(name) INTERNAL_UNCALLED(name)

CALLED(void*, crit_init, CritInit, (), ())
CALLED(void, crit_enter, CritEnter, (void* c), (c))
CALLED(void, crit_exit, CritExit, (void* c), (c))
CALLED(void, crit_terminate, CritTerminate, (void* c), (c))
CALLED(int, net_write, NetWrite, (void* sd, char* buf, int sz), (sd, buf, sz))
CALLED(int, netbuf_next, NetbufNext, (netbuf* buf, int advance), (buf, advance))
// Servers export the block search as "pblock_fr"; "_pblock_fr" is only the engine's first try.
CALLED(pb_param*, pblock_fr, Fr, (const char* name, pblock* pb, int remove), (name, pb, remove))
CALLED(char*, pblock_findval, Findval, (const char* name, pblock* pb), (name, pb))
CALLED(int, param_free, ParamFree, (pb_param* pp), (pp))
CALLED(pb_param*, pblock_nvinsert, Nvinsert, (const char* name, const char* value, pblock* pb), (name, value, pb))
CALLED(int, request_header, RequestHeader, (char* name, char** value, Session* sn, Request* rq), (name, value, sn, rq))
CALLED(int, http_status, HttpStatus, (Session* sn, Request* rq, int n, char* r), (sn, rq, n, r))
CALLED(int, http_start_response, HttpStartResponse, (Session* sn, Request* rq), (sn, rq))

UNCALLED(system_version) UNCALLED(MAGNUS_VERSION) UNCALLED(system_version_set)
UNCALLED(magnus_atrestart) UNCALLED(system_free) UNCALLED(sem_init) UNCALLED(sem_terminate)
UNCALLED(sem_grab) UNCALLED(sem_tgrab) UNCALLED(sem_release) UNCALLED(net_socket)
UNCALLED(net_getsockopt) UNCALLED(net_setsockopt) UNCALLED(net_listen) UNCALLED(net_create_listener)
UNCALLED(net_select) UNCALLED(net_connect) UNCALLED(net_ioctl) UNCALLED(net_getpeername)
UNCALLED(net_close) UNCALLED(net_bind) UNCALLED(net_accept) UNCALLED(net_read) UNCALLED(net_isalive)
UNCALLED(net_ip2host) UNCALLED(netbuf_open) UNCALLED(netbuf_close) UNCALLED(netbuf_grap)
UNCALLED(netbuf_buf2sd) UNCALLED(param_create) UNCALLED(pblock_create) UNCALLED(pblock_free)
UNCALLED(pblock_nninsert) UNCALLED(pblock_pinsert) UNCALLED(pblock_str2pblock)
UNCALLED(pblock_pblock2str) UNCALLED(pblock_copy) UNCALLED(pblock_dup) UNCALLED(pblock_pb2env)
UNCALLED(request_create) UNCALLED(request_free) UNCALLED(request_restart_internal)
UNCALLED(request_stat_path) UNCALLED(request_handle) UNCALLED(request_translate_uri)
UNCALLED(http_find_request) UNCALLED(protocol_parse_request) UNCALLED(http_parse_request)
UNCALLED(protocol_scan_headers) UNCALLED(protocol_start_response) UNCALLED(http_hdrs2env)
UNCALLED(protocol_status) UNCALLED(protocol_set_finfo) UNCALLED(http_set_finfo)
UNCALLED(protocol_finish_request) UNCALLED(http_finish_request) UNCALLED(protocol_handle_session)
UNCALLED(http_handle_session) UNCALLED(protocol_uri2url) UNCALLED(protocol_uri2url_dynamic)
UNCALLED(http_uri2url) UNCALLED(http_uri2url_dynamic) UNCALLED(protocol_set_keepalive_timeout)
UNCALLED(http_set_keepalive_timeout) UNCALLED(http_dump82) UNCALLED(func_init) UNCALLED(func_find)
UNCALLED(func_exec) UNCALLED(func_insert) UNCALLED(NSstr2String) UNCALLED(ereport_init)
UNCALLED(ereport_terminate) UNCALLED(ereport_getfd)

// The test's side. A raw HTTP request ("METHOD URI[?QUERY] PROTOCOL", header lines, empty line,
// body) becomes the server's blocks; the body reaches the engine chunk bytes per buffer fill, the
// first piece already in the buffer as the server leaves it after reading the headers.
STUB_EXPORT void* stub_request(const char* raw, int rawLen, int chunk) {
    auto* r = new StubRequest;
    std::string text(raw, static_cast<size_t>(rawLen));
    size_t headEnd = text.find("\r\n\r\n");
    std::string head = text.substr(0, headEnd);
    r->body = headEnd == std::string::npos ? std::string() : text.substr(headEnd + 4);
    size_t lineEnd = head.find("\r\n");
    std::string line = head.substr(0, lineEnd);
    size_t s1 = line.find(' '), s2 = line.rfind(' ');
    std::string uri = line.substr(s1 + 1, s2 - s1 - 1);
    Nvinsert("method", line.substr(0, s1).c_str(), &r->reqpb);
    if (size_t q = uri.find('?'); q != std::string::npos) {
        Nvinsert("query", uri.substr(q + 1).c_str(), &r->reqpb);
        uri.resize(q);
    }
    Nvinsert("uri", uri.c_str(), &r->reqpb);
    Nvinsert("protocol", line.substr(s2 + 1).c_str(), &r->reqpb);
    for (size_t pos = lineEnd; pos != std::string::npos && pos < head.size();) {
        size_t next = head.find("\r\n", pos + 2);
        std::string h = head.substr(pos + 2, next == std::string::npos ? std::string::npos : next - pos - 2);
        if (size_t colon = h.find(':'); colon != std::string::npos) {
            std::string name = h.substr(0, colon);
            for (char& c : name) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
            Nvinsert(name.c_str(), h.substr(h.find_first_not_of(' ', colon + 1)).c_str(), &r->headers);
        }
        pos = next;
    }
    Nvinsert("ip", "127.0.0.1", &r->client);
    Nvinsert("dns", "client.example", &r->client);
    Nvinsert("path", "/srv/form", &r->vars);
    Nvinsert("fn", "stub-service", &r->params);
    r->chunk = chunk > 0 ? chunk : 4096;
    r->buffer.resize(static_cast<size_t>(r->chunk));
    r->nb.sd = r;
    r->nb.inbuf = r->buffer.data();
    r->nb.maxsize = r->chunk;
    if (!r->body.empty()) NetbufNext(&r->nb, 0);
    r->sn = Session{&r->client, r, &r->nb, 1, nullptr};
    r->rq = Request{&r->vars, &r->reqpb, 1, &r->headers, 0, &r->srvhdrs, nullptr};
    return r;
}

STUB_EXPORT int stub_serve(void* req, int (*service)(pblock*, Session*, Request*)) {
    auto* r = static_cast<StubRequest*>(req);
    return service(&r->params, &r->sn, &r->rq);
}

STUB_EXPORT const char* stub_response(void* req, int* length) {
    auto* r = static_cast<StubRequest*>(req);
    *length = static_cast<int>(r->response.size());
    return r->response.data();
}

STUB_EXPORT int stub_header_sends(void* req) { return static_cast<StubRequest*>(req)->started; }

STUB_EXPORT void stub_free(void* req) {
    auto* r = static_cast<StubRequest*>(req);
    for (pblock* pb : {&r->params, &r->client, &r->vars, &r->reqpb, &r->headers, &r->srvhdrs})
        for (pb_param* pp : pb->entries) ParamFree(pp);
    delete r;
}

// How often the engine called a plain-named and an "INT"-named function.
STUB_EXPORT long stub_calls(int internal) { return internal ? gInternalCalls.load() : gPlainCalls.load(); }
