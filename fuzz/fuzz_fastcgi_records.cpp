// libFuzzer target: one FastCGI connection whose bytes are the input (any record sequence:
// requests, kept connections, management records between a request's records, broken records),
// served by the engine's own server and event loop as a web server's connection would be. Built
// with VELMORA_FUZZ_TAKEN (fuzz_fastcgi_taken), the connection comes through a listener whose
// workers take it: served on the worker when it came whole, else handed over to the loop.
#include <stdlib.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <filesystem>
#include <string>
#include <thread>

#include "FastCgiEng.h"
#include "FcgiServer.h"
#include "Listener.h"

using namespace velmora;

namespace {

const std::string& WorkDir() {
    static const std::string dir = [] {
        char tmpl[] = "/tmp/velmora-fuzz-fcgi-XXXXXX";
        return std::string(::mkdtemp(tmpl));
    }();
    return dir;
}

// Asks for what a form handler asks for: variables, every field, and answers with them.
void Handler(TObject* sender) {
    auto* e = static_cast<TFastCGIEngine*>(sender);
    std::string text = e->GetRequestMethod() + e->GetContentType() + e->GetQueryString() + e->GetHttpCookie();
    std::unique_ptr<TStringList> names = e->GetFormFieldNames();
    for (const std::string& n : *names) text += e->GetFormField(n, "");
    e->Write("<p>" + text);
}

TFastCGIEngine& Engine(int threads) {
    static TComponent owner;
    static TFastCGIEngine* engine = new TFastCGIEngine(&owner, threads, false, false, WorkDir(), "S", 10000, true,
                                                       "text/html", true, nullptr, nullptr, Handler, nullptr);
    return *engine;
}

// The test's end of a new connection, and the thread that serves it when that is not the server's own.
struct TPeer {
    int Fd = -1;
    std::thread Serving;
};

#if defined(VELMORA_FUZZ_TAKEN)
// A server with two workers on a listener, running for the whole fuzzing process as it would
// behind a web server; each input is one new connection to it.
TPeer Connect() {
    static const std::string path = WorkDir() + "/fcgi.sock";
    static fcgi::TServer* server = [] {
        std::string error;
        TListener* listener = TListener::Open(path, error).release();
        if (!listener) abort();
        fcgi::TServer* s = Engine(2).NewServer().release();
        std::thread([s, listener] { s->Run(listener, false, false); }).detach();
        return s;
    }();
    (void)server;
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un a{};
    a.sun_family = AF_UNIX;
    path.copy(a.sun_path, sizeof a.sun_path - 1);
    if (fd < 0 || ::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) abort();
    return {fd, std::thread()};
}
#else
// No worker threads: each request runs on the loop's thread as soon as it is complete, so that
// a run depends on the input alone. The loop serves the connection until it is closed.
TPeer Connect() {
    int fds[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM, 0, fds) != 0) abort();
    return {fds[0], std::thread([fd = fds[1]] {
                Engine(0).ServeConnection(fd);
                RequestState().CurrentEngine = nullptr;
            })};
}
#endif

// Whatever came in, what went out is whole version-1 records, back to back.
bool WholeRecords(const std::string& out) {
    size_t p = 0;
    while (out.size() - p >= 8) {
        if (out[p] != 1) return false;
        p += 8 + (static_cast<uint8_t>(out[p + 4]) << 8 | static_cast<uint8_t>(out[p + 5])) + static_cast<uint8_t>(out[p + 6]);
    }
    return p == out.size();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // A web server's connection carries one form, not an upload of megabytes.
    if (size > 65536) return 0;
    ::setenv("CGI_LOG_DIR", WorkDir().c_str(), 1);
    TPeer peer = Connect();
    const int fd = peer.Fd;
    // The answers are read as they come, so the server never waits on a full socket; the server
    // closes the connection once its last request has run.
    std::string out;
    std::thread drain([fd, &out] {
        char buf[65536];
        for (ssize_t n; (n = ::read(fd, buf, sizeof buf)) > 0;) out.append(buf, static_cast<size_t>(n));
    });
    if (size > 0 && ::send(fd, data, size, MSG_NOSIGNAL) != static_cast<ssize_t>(size) && errno != EPIPE) abort();
    ::shutdown(fd, SHUT_WR);
    drain.join();
    if (peer.Serving.joinable()) peer.Serving.join();
    ::close(fd);
    if (!WholeRecords(out)) abort();
    // Every upload file must be gone with its request.
    for (const auto& f : std::filesystem::directory_iterator(WorkDir()))
        if (f.path().extension() == ".tmp") abort();
    return 0;
}
