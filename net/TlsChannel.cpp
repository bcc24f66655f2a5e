// The TLS client session on two memory buffers: OpenSSL reads records from one and writes to the
// other, so the socket layer keeps its own non-blocking sockets and queue notifications.
#include "TlsChannel.h"

#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>

#include <map>
#include <mutex>
#include <utility>

namespace velmora {

namespace {

// One context per way of checking certificates, shared by every session of the process: loading
// the system's certificate store for each message would cost more than the handshake itself.
class TContextCache {
public:
    // Sessions still open hold their own reference to their context.
    ~TContextCache() {
        for (auto& entry : FContexts) SSL_CTX_free(entry.second);
    }
    SSL_CTX* Get(const TTlsSettings& settings, std::string& error) {
        std::lock_guard<std::mutex> hold(FLock);
        auto key = std::make_pair(settings.CaFile, settings.Verify);
        auto it = FContexts.find(key);
        if (it != FContexts.end()) return it->second;
        SSL_CTX* ctx = Make(settings, error);
        if (ctx) FContexts.emplace(key, ctx);
        return ctx;
    }

private:
    static SSL_CTX* Make(const TTlsSettings& settings, std::string& error) {
        SSL_CTX* ctx = SSL_CTX_new(TLS_client_method());
        if (!ctx) {
            error = "cannot make a TLS context";
            return nullptr;
        }
        SSL_CTX_set_min_proto_version(ctx, TLS1_2_VERSION);
        SSL_CTX_set_verify(ctx, settings.Verify ? SSL_VERIFY_PEER : SSL_VERIFY_NONE, nullptr);
        bool loaded = settings.CaFile.empty()
                          ? SSL_CTX_set_default_verify_paths(ctx) == 1
                          : SSL_CTX_load_verify_locations(ctx, settings.CaFile.c_str(), nullptr) == 1;
        if (!loaded && settings.Verify) {
            error = settings.CaFile.empty() ? "cannot load the system's certificate store"
                                            : "cannot load the CA file " + settings.CaFile;
            SSL_CTX_free(ctx);
            return nullptr;
        }
        return ctx;
    }

    std::mutex FLock;
    std::map<std::pair<std::string, bool>, SSL_CTX*> FContexts;
};

TContextCache& Contexts() {
    static TContextCache cache;
    return cache;
}

// The reason of the newest OpenSSL error of this thread, then the queue emptied.
std::string LastSslError(const char* fallback) {
    unsigned long code = ERR_peek_last_error();
    const char* reason = code ? ERR_reason_error_string(code) : nullptr;
    ERR_clear_error();
    return reason ? reason : fallback;
}

}  // namespace

struct TTlsChannel::TState {
    SSL* Ssl = nullptr;
    BIO* In = nullptr;   // records received, owned by Ssl
    BIO* Out = nullptr;  // records to send, owned by Ssl
    ~TState() { SSL_free(Ssl); }
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
    ERR_clear_error();
    std::string why;
    SSL_CTX* ctx = Contexts().Get(settings, why);
    if (!ctx) {
        Fail(why);
        return false;
    }
    F = std::make_unique<TState>();
    F->Ssl = SSL_new(ctx);
    F->In = BIO_new(BIO_s_mem());
    F->Out = BIO_new(BIO_s_mem());
    if (!F->Ssl || !F->In || !F->Out) {
        BIO_free(F->In);
        BIO_free(F->Out);
        F.reset();
        Fail("out of memory");
        return false;
    }
    BIO_set_mem_eof_return(F->In, -1);  // an empty input buffer means "more to come", not the end
    SSL_set_bio(F->Ssl, F->In, F->Out);
    SSL_set_connect_state(F->Ssl);
    // An address is checked against the certificate's IP entries; a name is sent as SNI and
    // checked against its DNS entries (wildcards in the leftmost label only).
    X509_VERIFY_PARAM* param = SSL_get0_param(F->Ssl);
    if (X509_VERIFY_PARAM_set1_ip_asc(param, host.c_str()) != 1) {
        ERR_clear_error();
        X509_VERIFY_PARAM_set_hostflags(param, X509_CHECK_FLAG_NO_PARTIAL_WILDCARDS);
        if (SSL_set1_host(F->Ssl, host.c_str()) != 1 || SSL_set_tlsext_host_name(F->Ssl, host.c_str()) != 1) {
            Fail("cannot use the host name");
            return false;
        }
    }
    return true;
}

TTlsStep TTlsChannel::Handshake() {
    if (!F || Failed()) return TTlsStep::Failed;
    ERR_clear_error();
    int rc = SSL_do_handshake(F->Ssl);
    if (rc == 1) return TTlsStep::Done;
    int error = SSL_get_error(F->Ssl, rc);
    if (error == SSL_ERROR_WANT_READ) return TTlsStep::WantRead;
    long verify = SSL_get_verify_result(F->Ssl);
    if (verify != X509_V_OK)
        Fail(std::string("certificate not accepted: ") + X509_verify_cert_error_string(verify));
    else
        Fail("handshake failed: " + LastSslError("the relay ended the handshake"));
    return TTlsStep::Failed;
}

void TTlsChannel::Feed(const std::string& records) {
    if (F && !records.empty()) BIO_write(F->In, records.data(), static_cast<int>(records.size()));
}

std::string TTlsChannel::TakeOutput() {
    std::string out;
    if (!F) return out;
    char* data = nullptr;
    long size = BIO_get_mem_data(F->Out, &data);
    if (size > 0) out.assign(data, static_cast<size_t>(size));
    (void)BIO_reset(F->Out);
    return out;
}

bool TTlsChannel::Write(const std::string& plain) {
    if (!F || Failed()) return false;
    ERR_clear_error();
    size_t written = 0;
    // The output buffer grows as needed, so a write never waits for the peer.
    if (!plain.empty() && SSL_write_ex(F->Ssl, plain.data(), plain.size(), &written) != 1) {
        Fail("write failed: " + LastSslError("session broken"));
        return false;
    }
    return true;
}

std::string TTlsChannel::Read() {
    std::string plain;
    if (!F || Failed()) return plain;
    char buffer[16384];
    for (;;) {
        ERR_clear_error();
        size_t n = 0;
        if (SSL_read_ex(F->Ssl, buffer, sizeof buffer, &n) == 1) {
            plain.append(buffer, n);
            continue;
        }
        int error = SSL_get_error(F->Ssl, 0);
        if (error == SSL_ERROR_ZERO_RETURN)
            FPeerClosed = true;
        else if (error != SSL_ERROR_WANT_READ)
            Fail("read failed: " + LastSslError("session broken"));
        return plain;
    }
}

void TTlsChannel::Close() {
    if (!F || Failed()) return;
    ERR_clear_error();
    SSL_shutdown(F->Ssl);
    ERR_clear_error();
}

}  // namespace velmora
