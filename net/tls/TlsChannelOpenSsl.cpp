// The TLS module: client sessions with OpenSSL on two memory buffers, behind the C table of
// TlsModule.h. Built as its own shared object so a start that sends no mail over TLS never maps
// libssl or libcrypto, and the system's libssl updates reach it without a rebuild.
#include "TlsModule.h"

#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>

#include <cstdio>
#include <map>
#include <mutex>
#include <string>
#include <utility>

namespace {

void SetError(char* error, size_t size, const std::string& text) {
    if (error && size) std::snprintf(error, size, "%s", text.c_str());
}

// One context per way of checking certificates, shared by every session of the process: loading
// the system's certificate store for each message would cost more than the handshake itself.
class TContextCache {
public:
    // Sessions still open hold their own reference to their context.
    ~TContextCache() {
        for (auto& entry : FContexts) SSL_CTX_free(entry.second);
    }
    SSL_CTX* Get(const std::string& caFile, bool verify, std::string& error) {
        std::lock_guard<std::mutex> hold(FLock);
        auto key = std::make_pair(caFile, verify);
        auto it = FContexts.find(key);
        if (it != FContexts.end()) return it->second;
        SSL_CTX* ctx = Make(caFile, verify, error);
        if (ctx) FContexts.emplace(key, ctx);
        return ctx;
    }

private:
    static SSL_CTX* Make(const std::string& caFile, bool verify, std::string& error) {
        SSL_CTX* ctx = SSL_CTX_new(TLS_client_method());
        if (!ctx) {
            error = "cannot make a TLS context";
            return nullptr;
        }
        SSL_CTX_set_min_proto_version(ctx, TLS1_2_VERSION);
        SSL_CTX_set_verify(ctx, verify ? SSL_VERIFY_PEER : SSL_VERIFY_NONE, nullptr);
        bool loaded = caFile.empty() ? SSL_CTX_set_default_verify_paths(ctx) == 1
                                     : SSL_CTX_load_verify_locations(ctx, caFile.c_str(), nullptr) == 1;
        if (!loaded && verify) {
            error = caFile.empty() ? "cannot load the system's certificate store" : "cannot load the CA file " + caFile;
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

struct TSession {
    SSL* Ssl = nullptr;
    BIO* In = nullptr;   // records received, owned by Ssl
    BIO* Out = nullptr;  // records to send, owned by Ssl
};

SSL* SslOf(void* session) { return static_cast<TSession*>(session)->Ssl; }

// An address is checked against the certificate's IP entries; a name is sent as SNI and checked
// against its DNS entries (wildcards in the leftmost label only).
bool BindHost(SSL* ssl, const char* host) {
    X509_VERIFY_PARAM* param = SSL_get0_param(ssl);
    if (X509_VERIFY_PARAM_set1_ip_asc(param, host) == 1) return true;
    ERR_clear_error();
    X509_VERIFY_PARAM_set_hostflags(param, X509_CHECK_FLAG_NO_PARTIAL_WILDCARDS);
    return SSL_set1_host(ssl, host) == 1 && SSL_set_tlsext_host_name(ssl, host) == 1;
}

void Free(void* session) {
    if (!session) return;
    SSL_free(SslOf(session));
    delete static_cast<TSession*>(session);
}

void* Open(const char* host, const char* caFile, int verify, char* error, size_t errorSize) {
    ERR_clear_error();
    std::string why;
    SSL_CTX* ctx = Contexts().Get(caFile ? caFile : "", verify != 0, why);
    if (!ctx) {
        SetError(error, errorSize, why);
        return nullptr;
    }
    auto* s = new TSession;
    s->Ssl = SSL_new(ctx);
    s->In = BIO_new(BIO_s_mem());
    s->Out = BIO_new(BIO_s_mem());
    if (!s->Ssl || !s->In || !s->Out) {
        BIO_free(s->In);
        BIO_free(s->Out);
        SSL_free(s->Ssl);
        delete s;
        SetError(error, errorSize, "out of memory");
        return nullptr;
    }
    BIO_set_mem_eof_return(s->In, -1);  // an empty input buffer means "more to come", not the end
    SSL_set_bio(s->Ssl, s->In, s->Out);
    SSL_set_connect_state(s->Ssl);
    if (!BindHost(s->Ssl, host)) {
        Free(s);
        SetError(error, errorSize, "cannot use the host name");
        return nullptr;
    }
    return s;
}

int Handshake(void* session, char* error, size_t errorSize) {
    ERR_clear_error();
    SSL* ssl = SslOf(session);
    int rc = SSL_do_handshake(ssl);
    if (rc == 1) return VELMORA_TLS_DONE;
    if (SSL_get_error(ssl, rc) == SSL_ERROR_WANT_READ) return VELMORA_TLS_WANT_READ;
    long verify = SSL_get_verify_result(ssl);
    if (verify != X509_V_OK)
        SetError(error, errorSize, std::string("certificate not accepted: ") + X509_verify_cert_error_string(verify));
    else
        SetError(error, errorSize, "handshake failed: " + LastSslError("the relay ended the handshake"));
    return VELMORA_TLS_FAILED;
}

void Feed(void* session, const char* records, size_t size) {
    if (size) BIO_write(static_cast<TSession*>(session)->In, records, static_cast<int>(size));
}

size_t Output(void* session, const char** records) {
    char* data = nullptr;
    long size = BIO_get_mem_data(static_cast<TSession*>(session)->Out, &data);
    *records = data;
    return size > 0 ? static_cast<size_t>(size) : 0;
}

void DropOutput(void* session) { (void)BIO_reset(static_cast<TSession*>(session)->Out); }

int Write(void* session, const char* plain, size_t size, char* error, size_t errorSize) {
    ERR_clear_error();
    size_t written = 0;
    // The output buffer grows as needed, so a write never waits for the peer.
    if (size && SSL_write_ex(SslOf(session), plain, size, &written) != 1) {
        SetError(error, errorSize, "write failed: " + LastSslError("session broken"));
        return 0;
    }
    return 1;
}

long Read(void* session, char* buffer, size_t capacity, char* error, size_t errorSize) {
    ERR_clear_error();
    size_t n = 0;
    if (SSL_read_ex(SslOf(session), buffer, capacity, &n) == 1) return static_cast<long>(n);
    int code = SSL_get_error(SslOf(session), 0);
    if (code == SSL_ERROR_ZERO_RETURN) return VELMORA_TLS_PEER_CLOSED;
    if (code == SSL_ERROR_WANT_READ) return VELMORA_TLS_NOTHING;
    SetError(error, errorSize, "read failed: " + LastSslError("session broken"));
    return VELMORA_TLS_BROKEN;
}

void Close(void* session) {
    ERR_clear_error();
    SSL_shutdown(SslOf(session));
    ERR_clear_error();
}

const TVelmoraTlsModule kModule = {VELMORA_TLS_ABI, Open, Handshake, Feed, Output, DropOutput,
                                   Write,           Read, Close,     Free};

}  // namespace

extern "C" __attribute__((visibility("default"))) const TVelmoraTlsModule* VelmoraTlsModule(void) {
    return &kModule;
}
