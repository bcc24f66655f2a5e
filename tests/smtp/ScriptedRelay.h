// A scripted SMTP peer on a loopback port, for what a real relay will not do on demand (refusals,
// silence, split and multi-line replies, dropped connections). Records every byte the client sent.
#pragma once

#include <functional>
#include <string>
#include <thread>
#include <vector>

namespace velmora::test {

// One accepted connection, seen from the relay's side. Reads give up after 30 seconds.
class RelayConnection {
public:
    explicit RelayConnection(int fd) : FFd(fd) {}

    void Send(const std::string& text);
    // The next line the client sent, line end included; empty when it closed or went quiet.
    std::string ReadLine();
    // Everything up to and including end.
    std::string ReadUntil(const std::string& end);
    // Reads the next line, then answers with reply.
    void Answer(const std::string& reply);
    // Reads message text up to the end-of-data line, then answers with reply.
    void AnswerData(const std::string& reply);
    // Reads (and records) until the client closes or timeoutMs passes; true when it closed.
    bool WaitClosed(int timeoutMs);
    // Drops the connection at once, unread data and all.
    void Close();
    bool Closed() const { return FFd < 0; }

    std::string Transcript;  // every byte read from the client, in order

private:
    bool Fill(int timeoutMs);

    int FFd;
    std::string FBuffer;  // read but not yet handed out
};

using RelayScript = std::function<void(RelayConnection&)>;

// Plays one script per accepted connection, in order, on its own thread. After a script the
// relay keeps reading until the client closes (unless the script closed), then hangs up.
class ScriptedRelay {
public:
    explicit ScriptedRelay(std::vector<RelayScript> scripts);
    ~ScriptedRelay();
    ScriptedRelay(const ScriptedRelay&) = delete;
    ScriptedRelay& operator=(const ScriptedRelay&) = delete;

    int Port() const { return FPort; }
    // Waits for the relay to finish; then the transcript of connection i (from 0).
    const std::string& Transcript(size_t i);
    size_t Connections();

private:
    void Run();

    std::vector<RelayScript> FScripts;
    std::vector<std::string> FTranscripts;
    int FListener = -1;
    int FPort = 0;
    std::thread FThread;
};

// The usual relay: greeting, one recipient, the message, the given answer to QUIT.
void NormalDialogue(RelayConnection& c, const std::string& quitReply = "221 bye\r\n");
// The normal dialogue's start: greeting, then HELO, MAIL FROM, RCPT TO and DATA accepted.
void AnswerUntilData(RelayConnection& c);

}  // namespace velmora::test
