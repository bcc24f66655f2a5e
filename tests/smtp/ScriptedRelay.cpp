// The scripted SMTP peer: a listening loopback socket, one thread, blocking I/O with poll limits.
#include "ScriptedRelay.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <netinet/tcp.h>

#include <stdexcept>
#include <utility>

namespace velmora::test {

namespace {
constexpr int kReadLimitMs = 30000;
}

void RelayConnection::Send(const std::string& text) {
    size_t sent = 0;
    while (FFd >= 0 && sent < text.size()) {
        ssize_t n = ::send(FFd, text.data() + sent, text.size() - sent, MSG_NOSIGNAL);
        if (n <= 0) break;
        sent += static_cast<size_t>(n);
    }
}

bool RelayConnection::Fill(int timeoutMs) {
    if (FFd < 0) return false;
    pollfd p{FFd, POLLIN, 0};
    if (poll(&p, 1, timeoutMs) <= 0) return false;
    char buf[4096];
    ssize_t n = ::recv(FFd, buf, sizeof buf, 0);
    if (n <= 0) return false;
    FBuffer.append(buf, static_cast<size_t>(n));
    Transcript.append(buf, static_cast<size_t>(n));
    return true;
}

std::string RelayConnection::ReadUntil(const std::string& end) {
    size_t at;
    while ((at = FBuffer.find(end)) == std::string::npos)
        if (!Fill(kReadLimitMs)) return std::exchange(FBuffer, {});
    std::string out = FBuffer.substr(0, at + end.size());
    FBuffer.erase(0, at + end.size());
    return out;
}

std::string RelayConnection::ReadLine() { return ReadUntil("\n"); }

void RelayConnection::Answer(const std::string& reply) {
    ReadLine();
    Send(reply);
}

void RelayConnection::AnswerData(const std::string& reply) {
    ReadUntil("\r\n.\r\n");
    Send(reply);
}

bool RelayConnection::WaitClosed(int timeoutMs) {
    while (FFd >= 0) {
        pollfd p{FFd, POLLIN, 0};
        if (poll(&p, 1, timeoutMs) <= 0) return false;
        char buf[4096];
        ssize_t n = ::recv(FFd, buf, sizeof buf, 0);
        if (n <= 0) return true;
        Transcript.append(buf, static_cast<size_t>(n));
    }
    return true;
}

void RelayConnection::Close() {
    if (FFd >= 0) ::close(FFd);
    FFd = -1;
}

ScriptedRelay::ScriptedRelay(std::vector<RelayScript> scripts) : FScripts(std::move(scripts)) {
    FListener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    if (FListener < 0 || ::bind(FListener, reinterpret_cast<sockaddr*>(&a), len) != 0 ||
        ::listen(FListener, 8) != 0 ||
        ::getsockname(FListener, reinterpret_cast<sockaddr*>(&a), &len) != 0)
        throw std::runtime_error("scripted relay cannot listen");
    FPort = ntohs(a.sin_port);
    FThread = std::thread([this] { Run(); });
}

ScriptedRelay::~ScriptedRelay() {
    if (FThread.joinable()) FThread.join();
    if (FListener >= 0) ::close(FListener);
}

void ScriptedRelay::Run() {
    for (RelayScript& script : FScripts) {
        pollfd p{FListener, POLLIN, 0};
        if (poll(&p, 1, kReadLimitMs * 2) <= 0) break;
        int fd = ::accept(FListener, nullptr, nullptr);
        if (fd < 0) break;
        int one = 1;  // each Send is its own segment, so split replies really arrive split
        setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        int small = 16 * 1024;  // a small window, so that a client that outpaces us has to wait
        setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &small, sizeof small);
        RelayConnection c(fd);
        script(c);
        if (!c.Closed()) c.WaitClosed(kReadLimitMs);
        c.Close();
        FTranscripts.push_back(c.Transcript);
    }
}

const std::string& ScriptedRelay::Transcript(size_t i) {
    if (FThread.joinable()) FThread.join();
    static const std::string none;
    return i < FTranscripts.size() ? FTranscripts[i] : none;
}

size_t ScriptedRelay::Connections() {
    if (FThread.joinable()) FThread.join();
    return FTranscripts.size();
}

void AnswerUntilData(RelayConnection& c) {
    c.Send("220 relay.test ready\r\n");
    c.Answer("250 relay.test\r\n");    // HELO
    c.Answer("250 sender ok\r\n");     // MAIL FROM
    c.Answer("250 recipient ok\r\n");  // RCPT TO
    c.Answer("354 go ahead\r\n");      // DATA
}

void NormalDialogue(RelayConnection& c, const std::string& quitReply) {
    AnswerUntilData(c);
    c.AnswerData("250 queued\r\n");
    c.Answer(quitReply);               // QUIT
}

}  // namespace velmora::test
