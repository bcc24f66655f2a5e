// libFuzzer target: one FastCGI connection whose bytes are the input, served by the engine as a
// web server's connection would be (any number of requests, kept connections, broken records).
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

TFastCGIEngine& Engine() {
    static TComponent owner;
    static TFastCGIEngine* engine = new TFastCGIEngine(&owner, 1, false, false, WorkDir(), "S", 10000, true, "text/html",
                                                       true, nullptr, nullptr, Handler, nullptr);
    return *engine;
}

}  // namespace

// The library answers a management record (request id 0) and forgets to free the parameter list
// it made for it, 48 bytes a record; that fault is the library's and is left to it here, so that
// the fuzzer goes on finding ours.
extern "C" const char* __lsan_default_suppressions() { return "leak:libfcgi.so\n"; }

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // Kept within the socket's buffer, so that writing it all never waits for the engine.
    if (size > 65536) return 0;
    ::setenv("CGI_LOG_DIR", WorkDir().c_str(), 1);
    int fds[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM, 0, fds) != 0) return 0;
    if (size > 0 && ::write(fds[0], data, size) != static_cast<ssize_t>(size)) abort();
    ::shutdown(fds[0], SHUT_WR);
    // The answers are read away as they come, so the engine never blocks on a full socket.
    std::thread drain([fd = fds[0]] {
        char buf[65536];
        while (::read(fd, buf, sizeof buf) > 0) {
        }
    });
    Engine().ServeConnection(fds[1]);
    drain.join();
    ::close(fds[0]);
    RequestState().CurrentEngine = nullptr;
    // Every upload file must be gone with its request.
    for (const auto& f : std::filesystem::directory_iterator(WorkDir()))
        if (f.path().extension() == ".tmp") abort();
    return 0;
}
