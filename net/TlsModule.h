// The plain C table of functions that the TLS module (velmora-tls.so, loaded on first use) gives
// the TLS channel. Only C types cross it: the module carries its own C++ runtime and OpenSSL.
#pragma once

#include <stddef.h>

extern "C" {

// Raised whenever a function is added, changed or its meaning moves; a module of another
// version is refused rather than called.
enum { VELMORA_TLS_ABI = 1 };

// Results of Handshake.
enum { VELMORA_TLS_DONE = 0, VELMORA_TLS_WANT_READ = 1, VELMORA_TLS_FAILED = -1 };
// Results of Read besides a byte count.
enum { VELMORA_TLS_NOTHING = 0, VELMORA_TLS_BROKEN = -1, VELMORA_TLS_PEER_CLOSED = -2 };

// Every function that can fail writes its reason, NUL-terminated and cut to fit, into error.
struct TVelmoraTlsModule {
    unsigned Abi;
    // A client session for host, checked as caFile (empty: the system's store) and verify say;
    // null when it cannot be prepared.
    void* (*Open)(const char* host, const char* caFile, int verify, char* error, size_t errorSize);
    int (*Handshake)(void* session, char* error, size_t errorSize);
    void (*Feed)(void* session, const char* records, size_t size);
    // The records waiting to be sent; *records stays valid until DropOutput.
    size_t (*Output)(void* session, const char** records);
    void (*DropOutput)(void* session);
    // 1 when plain is queued as records, 0 when the session is broken.
    int (*Write)(void* session, const char* plain, size_t size, char* error, size_t errorSize);
    // Up to capacity bytes of plaintext, or one of the results above.
    long (*Read)(void* session, char* buffer, size_t capacity, char* error, size_t errorSize);
    void (*Close)(void* session);
    void (*Free)(void* session);
};

// The one symbol the module exports.
typedef const TVelmoraTlsModule* (*TVelmoraTlsEntry)(void);
#define VELMORA_TLS_ENTRY "VelmoraTlsModule"

}
