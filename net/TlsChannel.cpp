// The TLS client session as the socket layer sees it: a thin owner of one session of the TLS
// module, which is loaded on the first session of the process so that starts without TLS never
// pay for OpenSSL's libraries.
#include "TlsChannel.h"

#include "Library.h"
#include "System.h"
#include "TlsModule.h"

#include <mutex>

namespace velmora {

namespace {

constexpr const char* kModuleName = "velmora-tls.so";

// The module of the right version at path, or null.
const TVelmoraTlsModule* TryModule(const std::string& path) {
    TLibraryHandle library = LoadLibrary(path);
    auto entry = reinterpret_cast<TVelmoraTlsEntry>(GetProcAddress(library, VELMORA_TLS_ENTRY));
    const TVelmoraTlsModule* module = entry ? entry() : nullptr;
    return module && module->Abi == VELMORA_TLS_ABI ? module : nullptr;
}

// Beside the program or the server library first, so an installed copy always takes its own
// module; then where the build put it, for programs run from the build tree.
const TVelmoraTlsModule* FindModule() {
    std::string own = GetModuleFileName();
    own.erase(own.find_last_of('/') + 1);
    if (const TVelmoraTlsModule* module = TryModule(own + kModuleName)) return module;
#ifdef VELMORA_TLS_MODULE_BUILT
    return TryModule(VELMORA_TLS_MODULE_BUILT);
#else
    return nullptr;
#endif
}

const TVelmoraTlsModule* Module() {
    static const TVelmoraTlsModule* module = FindModule();
    return module;
}

}  // namespace

struct TTlsChannel::TState {
    const TVelmoraTlsModule* Api = nullptr;
    void* Session = nullptr;
    char Why[256] = {};
    ~TState() {
        if (Session) Api->Free(Session);
    }
};

TTlsChannel::TTlsChannel() = default;
TTlsChannel::~TTlsChannel() = default;

void TTlsChannel::Fail(const std::string& what) {
    if (FError.empty()) FError = "TLS with " + FHost + ": " + what;
}

bool TTlsChannel::Begin(const std::string& host, const TTlsSettings& settings) {
    FHost = host;
    FError.clear();
    FPeerClosed = false;
    F.reset();
    const TVelmoraTlsModule* api = Module();
    if (!api) {
        Fail(std::string("the TLS module ") + kModuleName + " cannot be loaded");
        return false;
    }
    auto state = std::make_unique<TState>();
    state->Api = api;
    state->Session = api->Open(host.c_str(), settings.CaFile.c_str(), settings.Verify ? 1 : 0, state->Why,
                               sizeof state->Why);
    if (!state->Session) {
        Fail(state->Why);
        return false;
    }
    F = std::move(state);
    return true;
}

TTlsStep TTlsChannel::Handshake() {
    if (!F || Failed()) return TTlsStep::Failed;
    switch (F->Api->Handshake(F->Session, F->Why, sizeof F->Why)) {
        case VELMORA_TLS_DONE: return TTlsStep::Done;
        case VELMORA_TLS_WANT_READ: return TTlsStep::WantRead;
        default: Fail(F->Why); return TTlsStep::Failed;
    }
}

void TTlsChannel::Feed(const std::string& records) {
    if (F && !records.empty()) F->Api->Feed(F->Session, records.data(), records.size());
}

std::string TTlsChannel::TakeOutput() {
    std::string out;
    if (!F) return out;
    const char* data = nullptr;
    size_t size = F->Api->Output(F->Session, &data);
    if (size) out.assign(data, size);
    F->Api->DropOutput(F->Session);
    return out;
}

bool TTlsChannel::Write(const std::string& plain) {
    if (!F || Failed()) return false;
    if (F->Api->Write(F->Session, plain.data(), plain.size(), F->Why, sizeof F->Why)) return true;
    Fail(F->Why);
    return false;
}

std::string TTlsChannel::Read() {
    std::string plain;
    if (!F || Failed()) return plain;
    char buffer[16384];
    for (;;) {
        long n = F->Api->Read(F->Session, buffer, sizeof buffer, F->Why, sizeof F->Why);
        if (n > 0) {
            plain.append(buffer, static_cast<size_t>(n));
            continue;
        }
        if (n == VELMORA_TLS_PEER_CLOSED)
            FPeerClosed = true;
        else if (n == VELMORA_TLS_BROKEN)
            Fail(F->Why);
        return plain;
    }
}

void TTlsChannel::Close() {
    if (F && !Failed()) F->Api->Close(F->Session);
}

}  // namespace velmora
