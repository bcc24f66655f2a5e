// A web-server host for tests: loads a stand-in server library and a program built as a library,
// then calls the program's service function for raw requests, from several threads at once, the
// way an NSAPI server does, and prints every answer with the function's result.
//
//   nsapi_host [--server LIB] [--global] [--link-after-first PATH] [--threads N] [--repeat R]
//              [--chunk C] MODULE FUNCTION REQUEST-FILE...
//
// --link-after-first serves the first request alone, then links the server library to PATH
// (a name on the library search path), and serves the rest: a server that appears late.
#include <dlfcn.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace {

using service_t = int (*)(void*, void*, void*);
using request_t = void* (*)(const char*, int, int);
using serve_t = int (*)(void*, service_t);
using response_t = const char* (*)(void*, int*);
using count_t = int (*)(void*);
using free_t = void (*)(void*);
using calls_t = long (*)(int);

struct Result {
    int rc = 0;
    int sends = 0;
    std::string text;
};

void* Need(void* lib, const char* name) {
    void* p = dlsym(lib, name);
    if (!p) {
        std::cerr << "nsapi_host: " << name << " not found\n";
        std::exit(2);
    }
    return p;
}

}  // namespace

int main(int argc, char** argv) {
    std::string server, linkAfterFirst;
    bool global = false;
    int threads = 1, repeat = 1, chunk = 4096;
    int i = 1;
    for (; i < argc && std::strncmp(argv[i], "--", 2) == 0; ++i) {
        std::string opt = argv[i];
        if (opt == "--global") global = true;
        else if (i + 1 >= argc) return 2;
        else if (opt == "--server") server = argv[++i];
        else if (opt == "--link-after-first") linkAfterFirst = argv[++i];
        else if (opt == "--threads") threads = std::atoi(argv[++i]);
        else if (opt == "--repeat") repeat = std::atoi(argv[++i]);
        else if (opt == "--chunk") chunk = std::atoi(argv[++i]);
    }
    if (argc - i < 3 || server.empty()) return 2;
    void* lib = dlopen(server.c_str(), RTLD_NOW | (global ? RTLD_GLOBAL : RTLD_LOCAL));
    if (!lib) {
        std::cerr << "nsapi_host: " << dlerror() << "\n";
        return 2;
    }
    void* module = dlopen(argv[i], RTLD_NOW | RTLD_LOCAL);
    if (!module) {
        std::cerr << "nsapi_host: " << dlerror() << "\n";
        return 2;
    }
    auto service = reinterpret_cast<service_t>(Need(module, argv[i + 1]));
    auto makeRequest = reinterpret_cast<request_t>(Need(lib, "stub_request"));
    auto serve = reinterpret_cast<serve_t>(Need(lib, "stub_serve"));
    auto response = reinterpret_cast<response_t>(Need(lib, "stub_response"));
    auto headerSends = reinterpret_cast<count_t>(Need(lib, "stub_header_sends"));
    auto freeRequest = reinterpret_cast<free_t>(Need(lib, "stub_free"));
    auto calls = reinterpret_cast<calls_t>(Need(lib, "stub_calls"));

    std::vector<std::string> requests;
    for (int k = i + 2; k < argc; ++k) {
        std::ifstream in(argv[k], std::ios::binary);
        std::ostringstream s;
        s << in.rdbuf();
        requests.push_back(s.str());
    }
    const size_t jobs = requests.size() * static_cast<size_t>(repeat);
    std::vector<Result> results(jobs);
    auto run = [&](size_t job) {
        const std::string& raw = requests[job % requests.size()];
        void* r = makeRequest(raw.data(), static_cast<int>(raw.size()), chunk);
        Result& out = results[job];
        out.rc = serve(r, service);
        int length = 0;
        const char* text = response(r, &length);
        out.text.assign(text, static_cast<size_t>(length));
        out.sends = headerSends(r);
        freeRequest(r);
    };
    std::atomic<size_t> next{0};
    if (!linkAfterFirst.empty() && jobs > 0) {
        run(next++);
        if (symlink(server.c_str(), linkAfterFirst.c_str()) != 0) return 2;
    }
    std::vector<std::thread> pool;
    for (int t = 0; t < threads; ++t)
        pool.emplace_back([&] {
            for (size_t job; (job = next++) < jobs;) run(job);
        });
    for (auto& t : pool) t.join();

    for (size_t job = 0; job < jobs; ++job)
        std::cout << "=== " << job % requests.size() << " rc=" << results[job].rc << " sends=" << results[job].sends
                  << " len=" << results[job].text.size() << "\n"
                  << results[job].text << "\n";
    std::cout << "calls plain=" << calls(0) << " internal=" << calls(1) << "\n";
    return 0;
}
