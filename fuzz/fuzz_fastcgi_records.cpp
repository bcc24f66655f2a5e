// libFuzzer target: one FastCGI connection whose bytes are the input (any record sequence:
// requests, kept connections, management records between a request's records, broken records),
// served by the engine's own server and event loop as a web server's connection would be.
#include <stdlib.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdint>
#include <filesystem>
#include <string>
#include <thread>

#include "FastCgiEng.h"

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

// No worker threads: each request runs on the loop's thread as soon as it is complete, so that
// a run depends on the input alone.
TFastCGIEngine& Engine() {
    static TComponent owner;
    static TFastCGIEngine* engine = new TFastCGIEngine(&owner, 0, false, false, WorkDir(), "S", 10000, true, "text/html",
                                                       true, nullptr, nullptr, Handler, nullptr);
    return *engine;
}

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
    // Kept within the socket's buffer, so that writing it all never waits for the server.
    if (size > 65536) return 0;
    ::setenv("CGI_LOG_DIR", WorkDir().c_str(), 1);
    int fds[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM, 0, fds) != 0) return 0;
    if (size > 0 && ::write(fds[0], data, size) != static_cast<ssize_t>(size)) abort();
    ::shutdown(fds[0], SHUT_WR);
    // The answers are read as they come, so the server never waits on a full socket.
    std::string out;
    std::thread drain([fd = fds[0], &out] {
        char buf[65536];
        for (ssize_t n; (n = ::read(fd, buf, sizeof buf)) > 0;) out.append(buf, static_cast<size_t>(n));
    });
    Engine().ServeConnection(fds[1]);
    drain.join();
    ::close(fds[0]);
    RequestState().CurrentEngine = nullptr;
    if (!WholeRecords(out)) abort();
    // Every upload file must be gone with its request.
    for (const auto& f : std::filesystem::directory_iterator(WorkDir()))
        if (f.path().extension() == ".tmp") abort();
    return 0;
}
