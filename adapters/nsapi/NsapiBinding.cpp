// Finding the web server's library and binding its functions by name. The server is already in
// the process when it has loaded us, so the look-up normally only finds what is there.
#include "NsapiBinding.h"

#include <atomic>
#include <mutex>
#include <string>

#include "Library.h"
#include "System.h"

namespace velmora::nsapi {

namespace {

// Read by request threads while another thread may bind again, hence atomic slots.
std::array<std::atomic<void*>, ServerFunctionNames.size()> gTable{};
std::mutex gBindLock;

// The server's core library exports some generations' names only with this prefix.
constexpr const char* kInternalPrefix = "INT";

constexpr const char* kServerLibraries[] = {"libns-httpd50.so", "libns-httpd40.so", "libns-httpd35.so",
                                            "libns-httpd30.so", "libns-httpd20.so"};

// The functions a request calls; with one of them unbound no request can be served.
constexpr size_t kRequestFunctions[] = {
    FunctionIndex("crit_init"),     FunctionIndex("crit_enter"),     FunctionIndex("crit_exit"),
    FunctionIndex("crit_terminate"), FunctionIndex("net_write"),     FunctionIndex("netbuf_next"),
    FunctionIndex("_pblock_fr"),    FunctionIndex("pblock_findval"), FunctionIndex("param_free"),
    FunctionIndex("pblock_nvinsert"), FunctionIndex("request_header"), FunctionIndex("http_status"),
    FunctionIndex("http_start_response")};

void* Lookup(TLibraryHandle library, const std::string& name) {
    void* p = GetProcAddress(library, name);
    return p ? p : GetProcAddress(library, kInternalPrefix + name);
}

// The server's symbols may already be visible to everyone (a server program that exports them);
// otherwise its library is looked for by name, newest generation first.
TLibraryHandle FindServerLibrary() {
    TLibraryHandle process = ProcessSymbols();
    if (Lookup(process, "net_write")) return process;
    for (const char* name : kServerLibraries) {
        if (TLibraryHandle lib = LoadLibrary(name)) return lib;
        if (TLibraryHandle lib = LoadLibrary(SystemLibraryDirectory() + "/" + name)) return lib;
    }
    return nullptr;
}

}  // namespace

void BindServerLibrary() noexcept {
    if (!RunsAsLibrary()) return;
    try {
        std::lock_guard<std::mutex> guard(gBindLock);
        TLibraryHandle library = FindServerLibrary();
        if (!library) return;
        for (size_t i = 0; i < ServerFunctionNames.size(); ++i) {
            const std::string name(ServerFunctionNames[i]);
            void* p = Lookup(library, name);
            if (!p && name == "_pblock_fr") p = Lookup(library, "pblock_fr");
            gTable[i].store(p, std::memory_order_release);
        }
    } catch (...) {
        // What was bound so far stays bound; a request that misses a function says so.
    }
}

void* BoundFunction(size_t index) noexcept {
    return index < gTable.size() ? gTable[index].load(std::memory_order_acquire) : nullptr;
}

std::string_view MissingRequestFunction() noexcept {
    for (size_t i : kRequestFunctions)
        if (!BoundFunction(i)) return ServerFunctionNames[i];
    return {};
}

}  // namespace velmora::nsapi
