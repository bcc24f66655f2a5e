// TTlsChannel: one TLS client session that turns plaintext into records and back, over
// bytes its owner carries on its own socket; OpenSSL itself is in a module loaded on first use.
#pragma once

#include <cstddef>
#include <memory>
#include <string>

namespace velmora {

// How the peer's certificate is checked.
struct TTlsSettings {
    std::string CaFile;   // empty: the system's certificate store
    bool Verify = true;   // false: any certificate is taken (and the owner says so in its log)
};

enum class TTlsStep { Done, WantRead, Failed };

// The session never touches a socket: received records go in through Feed, records to send come
// out of TakeOutput. Not thread-safe; one owner thread.
class TTlsChannel {
public:
    TTlsChannel();
    ~TTlsChannel();
    TTlsChannel(const TTlsChannel&) = delete;
    TTlsChannel& operator=(const TTlsChannel&) = delete;

    // Prepares a client session for host (its name goes out as SNI and must match the certificate;
    // an IP address must be among the certificate's addresses). False, with Error(), when the
    // settings cannot be used (an unreadable CA file).
    bool Begin(const std::string& host, const TTlsSettings& settings);
    // Advances the handshake as far as the bytes fed so far allow.
    TTlsStep Handshake();
    void Feed(const std::string& records);
    // Records waiting to be sent (handshake, application data, alerts); empties the queue.
    std::string TakeOutput();
    // Encrypts plain into the output queue; false (Error()) when the session is broken.
    bool Write(const std::string& plain);
    // The plaintext that the records fed so far hold; empty when a record is still incomplete.
    // Failed() or PeerClosed() say why nothing more will come.
    std::string Read();
    // Queues the close alert.
    void Close();

    bool Failed() const noexcept { return !FError.empty(); }
    bool PeerClosed() const noexcept { return FPeerClosed; }
    const std::string& Error() const noexcept { return FError; }

private:
    void Fail(const std::string& what);

    struct TState;
    std::unique_ptr<TState> F;
    std::string FHost;
    std::string FError;
    bool FPeerClosed = false;
};

}  // namespace velmora
