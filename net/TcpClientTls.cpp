// TTCPClient's waits in the thread's message queue (for a connection, for any notification) and its
// TLS: the handshake on the open non-blocking socket and the plaintext path of SendText and ReceiveText.
#include "HSockets.h"

#include <algorithm>

#include "System.h"
#include "TlsChannel.h"

namespace velmora {

void TTCPClient::WaitForNotification(uint64_t until) {
    uint64_t now = TickCount();
    if (now >= until) return;
    TMessageQueue& queue = TMessageQueue::Current();
    uint64_t wait = std::min<uint64_t>(until - now, 60 * 60 * 1000);
    queue.WaitMessage(static_cast<int>(wait));
    queue.ProcessMessages();
}

bool TTCPClient::WaitConnected(uint64_t until) {
    // A refused connection reports its error and stays "connecting": no use waiting for more.
    while (FState == ssConnecting && FErrorCode == 0 && TickCount() < until && !Aborted()) WaitForNotification(until);
    return FState == ssConnected;
}

bool TTCPClient::StartTls(const TTlsSettings& settings, uint64_t deadline) {
    FTlsError.clear();
    auto tls = std::make_unique<TTlsChannel>();
    if (FState != ssConnected || FTls) {
        FTlsError = "TLS with " + RemoteHost + ": no plain connection to start it on";
        return false;
    }
    if (!tls->Begin(RemoteHost, settings)) {
        FTlsError = tls->Error();
        return false;
    }
    for (;;) {
        TTlsStep step = tls->Handshake();
        if (step == TTlsStep::Done) {
            // The last flight stays queued and goes out with the first command (or before the
            // first receive): one segment instead of two small writes held up by the relay's
            // delayed acknowledgement.
            FTls = std::move(tls);
            return true;
        }
        // Sent even when the handshake failed: the alert tells the relay why.
        std::string records = tls->TakeOutput();
        bool sent = records.empty() || SendOnSocket(FSocket, 0, records);
        if (step == TTlsStep::Failed) {
            FTlsError = tls->Error();
            return false;
        }
        if (sent && !(records = ReceiveOnSocket(FSocket, 0)).empty()) {
            tls->Feed(records);
            continue;
        }
        if (!sent || FErrorCode != 0 || PeerClosed() || FState != ssConnected) {
            FTlsError = "TLS with " + RemoteHost + ": the relay ended the connection during the handshake";
            return false;
        }
        if (TickCount() >= deadline || Aborted()) {
            FTlsError = "TLS with " + RemoteHost + ": no answer to the handshake in time";
            return false;
        }
        WaitForNotification(deadline);
    }
}

void TTCPClient::FailTls(const std::string& text) {
    FTlsError = text;
    ReportError(WSAECONNABORTED);
}

bool TTCPClient::FlushTls() {
    std::string records = FTls->TakeOutput();
    return records.empty() || SendOnSocket(FSocket, 0, records);
}

std::string TTCPClient::ReceiveTls() {
    for (;;) {
        std::string plain = FTls->Read();
        FlushTls();  // what is queued: the handshake's last flight, or the session's own answer to a record
        if (!plain.empty()) return plain;
        if (FTls->Failed()) {
            FailTls(FTls->Error());
            return {};
        }
        if (FTls->PeerClosed()) {
            FPeerClosed = true;
            return {};
        }
        std::string records = ReceiveOnSocket(FSocket, 0);
        if (records.empty()) return {};
        FTls->Feed(records);
    }
}

void TTCPClient::EndTls() {
    if (!FTls) return;
    // The close alert is a courtesy: a relay that has gone already is no error of the dialogue.
    if (!FPeerClosed && !FTls->Failed()) {
        FTls->Close();
        std::string records = FTls->TakeOutput();
        if (!records.empty()) SendSocket(FSocket, records.data(), static_cast<int>(records.size()), 0);
    }
    FTls.reset();
}

}  // namespace velmora
