// One token verification POST in a fresh process, as a CGI start would make it, with either
// HTTPS client: "own" (HttpsPost: the TCP client and the TLS module loaded on first use) or
// "curl" (libcurl loaded on demand with dlopen). Prints the answer's body, then the process's
// peak memory and the number of shared objects it mapped.
#include <curl/curl.h>
#include <dlfcn.h>
#include <sys/resource.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <set>
#include <string>

#include "HttpsPost.h"

namespace {

size_t Collect(char* data, size_t size, size_t count, void* out) {
    static_cast<std::string*>(out)->append(data, size * count);
    return size * count;
}

// libcurl's easy interface through dlopen, so that, like the TLS module, it costs nothing until used.
bool CurlPost(const std::string& url, const std::string& form, const std::string& caFile, std::string& body) {
    void* lib = dlopen("libcurl.so.4", RTLD_NOW | RTLD_LOCAL);
    if (!lib) return false;
    auto init = reinterpret_cast<CURL* (*)()>(dlsym(lib, "curl_easy_init"));
    auto setopt = reinterpret_cast<CURLcode (*)(CURL*, CURLoption, ...)>(dlsym(lib, "curl_easy_setopt"));
    auto perform = reinterpret_cast<CURLcode (*)(CURL*)>(dlsym(lib, "curl_easy_perform"));
    auto info = reinterpret_cast<CURLcode (*)(CURL*, CURLINFO, ...)>(dlsym(lib, "curl_easy_getinfo"));
    auto cleanup = reinterpret_cast<void (*)(CURL*)>(dlsym(lib, "curl_easy_cleanup"));
    if (!init || !setopt || !perform || !info || !cleanup) return false;
    CURL* c = init();
    setopt(c, CURLOPT_URL, url.c_str());
    setopt(c, CURLOPT_POSTFIELDS, form.c_str());
    setopt(c, CURLOPT_CAINFO, caFile.c_str());
    setopt(c, CURLOPT_TIMEOUT_MS, 5000L);
    setopt(c, CURLOPT_WRITEFUNCTION, Collect);
    setopt(c, CURLOPT_WRITEDATA, &body);
    long status = 0;
    bool ok = perform(c) == CURLE_OK && info(c, CURLINFO_RESPONSE_CODE, &status) == CURLE_OK && status == 200;
    cleanup(c);
    return ok;
}

size_t SharedObjects() {
    std::ifstream maps("/proc/self/maps");
    std::set<std::string> names;
    for (std::string line; std::getline(maps, line);)
        if (line.find(".so") != std::string::npos) names.insert(line.substr(line.find('/')));
    return names.size();
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 4) {
        std::fprintf(stderr, "usage: https_probe own|curl URL CAFILE\n");
        return 2;
    }
    const std::string form = "secret=s3cret&response=token&remoteip=127.0.0.1";
    std::string body;
    bool ok = false;
    if (std::strcmp(argv[1], "curl") == 0) {
        ok = CurlPost(argv[2], form, argv[3], body);
    } else {
        velmora::THttpsAnswer a = velmora::HttpsPost(argv[2], form, {.CaFile = argv[3]}, 5000);
        ok = a.Answered && a.Status == 200;
        body = a.Answered ? a.Body : a.Error;
    }
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    std::printf("%s\n%ld %zu\n", body.c_str(), usage.ru_maxrss, SharedObjects());
    return ok ? 0 : 1;
}
