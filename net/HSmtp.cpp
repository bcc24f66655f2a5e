// TSmtpSendMail's dialogue: connect, HELO, MAIL FROM, RCPT TO, DATA, QUIT within one deadline.
// Every wait blocks in the thread's message queue until the socket reports or the deadline passes.
#include "HSmtp.h"

#include <algorithm>

#include "MailText.h"
#include "SmtpReply.h"
#include "SysUtils.h"
#include "System.h"

namespace velmora {

namespace {

constexpr uint64_t kConnectWaitMs = 20000;
constexpr const char* kDefaultRelayHost = "localhost";
// Closing a kept connection waits this long for the relay's goodbye.
constexpr uint64_t kQuitWaitMs = 2000;

thread_local std::string tMessageBuffer;

}  // namespace

std::string& MessageBuffer() { return tMessageBuffer; }

TSmtpSendMail::TSmtpSendMail(TComponent* owner) : TTCPClient(owner) {
    RemotePort = "25";
    RemoteHost = kDefaultRelayHost;
    for (const char* line : {"From: %MAILFROM%", "To: %MAILTO%", "CC: %MAILCC%", "BCC: %MAILBCC%",
                             "Subject: %SUBJECT% ", "Mime-Version: 1.0",
                             "Content-Type: text/plain; charset=iso-8859-1"})
        FMailHeader.Add(line);
}

bool TSmtpSendMail::Send(int timeoutSeconds) {
    return SendWithin(static_cast<uint64_t>(std::max(timeoutSeconds, 0)) * 1000);
}

bool TSmtpSendMail::SendComposed(const TMailEnvelope& envelope, TStream& data, uint64_t budgetMs) {
    FComposed = &data;
    FEnvelope = envelope;
    bool ok = false;
    try {
        ok = SendWithin(budgetMs);
    } catch (...) {
        FComposed = nullptr;
        throw;
    }
    FComposed = nullptr;
    return ok;
}

void TSmtpSendMail::BeginAttempt(uint64_t budgetMs) {
    FDeadline = TickCount() + budgetMs;
    // The budget covers sending too: a relay that stops reading must not hold the request longer.
    SendDeadline = FDeadline;
    FDataAccepted = false;
    FDataUnanswered = false;
    FNoConnection = false;
    FInput.clear();
    FOutput.clear();
    FReplyCode = -1;
    FLastReply.clear();
    ClearError();
}

bool TSmtpSendMail::Probe(uint64_t budgetMs) {
    CloseKept();
    BeginAttempt(budgetMs);
    if (State() != ssReady) Disconnect();
    FProbing = true;
    bool ok = false;
    try {
        ok = SayHello() && Command("RSET", 250) && SendQuit();
    } catch (...) {
        FProbing = false;
        Disconnect();
        throw;
    }
    FProbing = false;
    int code = FErrorCode;
    Disconnect();
    FErrorCode = code;
    return ok;
}

void TSmtpSendMail::Note(const std::string& entry) {
    if (!Transcript) return;
    // One entry a line: a reply's own lines are joined with " | ", and nothing the relay sent can
    // start a line of its own.
    std::string line = entry;
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.pop_back();
    for (size_t at = 0; (at = line.find("\r\n", at)) != std::string::npos; at += 3) line.replace(at, 2, " | ");
    Transcript->push_back(BlankControlChars(line));
}

bool TSmtpSendMail::SendWithin(uint64_t budgetMs) {
    MessageBuffer().clear();
    // Text the relay sent between messages is nothing we asked for: such a connection is not reused.
    bool kept = FKeptMessages > 0 && FInput.empty() && FKeptFor == KeptKey() && State() == ssConnected && !PeerClosed();
    if (!kept) FKeptMessages = 0;
    BeginAttempt(budgetMs);
    if (!FComposed) FEnvelope = Envelope();
    if (Security.Tls != TTlsMode::Off && !Security.Certificates.Verify && OnLog)
        OnLog("The certificate of the relay " + RemoteHost + ":" + RemotePort + " is not checked (switched off)");
    // Never continue an earlier dialogue: its relay would take our commands as its message text.
    if (!kept && State() != ssReady) Disconnect();
    bool ok = false;
    try {
        ok = RunDialogue(kept);
    } catch (...) {
        FKeptMessages = 0;
        Disconnect();
        throw;
    }
    if (!ok) {
        FKeptMessages = 0;
        // Closing a broken connection may fail too; the explanation stays the original failure.
        int code = FErrorCode;
        Disconnect();
        FErrorCode = code;
    }
    return ok;
}

bool TSmtpSendMail::RunDialogue(bool kept) {
    // A pipelining relay gets the kept connection's RSET in the envelope's batch: one round trip
    // a message fewer. A lost connection is found from its (missing) answer all the same.
    const bool batched = kept && FPipelining;
    bool reused = kept && (batched || ReuseKept());
    FKeptLost = false;
    if (!reused && !SayHello()) return false;
    if (!SendEnvelope(batched)) {
        if (!FKeptLost) return false;
        DropKept();
        reused = false;
        if (!SayHello() || !SendEnvelope()) return false;
    }
    if (!SendContent()) return false;
    int sent = (reused ? FKeptMessages : 0) + 1;
    if (KeepConnection && sent < kKeptMessages) {
        FKeptMessages = sent;
        FKeptFor = KeptKey();
        return true;
    }
    FKeptMessages = 0;
    bool ok = SendQuit();
    Disconnect();
    return ok;
}

bool TSmtpSendMail::ReuseKept() {
    if (Command("RSET", 250)) return true;
    DropKept();
    return false;
}

void TSmtpSendMail::DropKept() {
    // A relay that closed the idle connection meanwhile has seen nothing of this message: a new
    // connection cannot deliver it twice.
    FKeptMessages = 0;
    Disconnect();
    ClearError();
    FInput.clear();
    FReplyCode = -1;
    FLastReply.clear();
}

void TSmtpSendMail::CloseKept() {
    if (FKeptMessages == 0) return;
    FKeptMessages = 0;
    FDeadline = TickCount() + kQuitWaitMs;
    SendDeadline = FDeadline;
    if (State() == ssConnected && !PeerClosed()) Command("QUIT", 221);
    Disconnect();
}

std::string TSmtpSendMail::KeptKey() const {
    return RemoteHost + "\n" + RemotePort + "\n" + std::to_string(static_cast<int>(Security.Tls)) + "\n" +
           (Security.Certificates.Verify ? "verify" : "any") + "\n" + Security.Certificates.CaFile + "\n" + Security.User + "\n" + Security.Password +
           (Security.LoginWithoutTls ? "\nplain" : "");
}

std::string TSmtpSendMail::GetErrorText() const {
    if (!TlsError().empty()) return TlsError();
    std::string text = ErrorText();
    return text.empty() ? FLastReply : text;
}

void TSmtpSendMail::BufferText(const std::string& s) { MessageBuffer() += s; }

void TSmtpSendMail::AddBodyText(const std::string& s) { BufferText(s); }

bool TSmtpSendMail::ConnectInTime() {
    // The name lookup and the connection share one wait: a silent resolver costs no more than a
    // silent relay.
    const uint64_t until = std::min(TickCount() + kConnectWaitMs, FDeadline);
    Connect(until);
    return WaitConnected(until);
}

bool TSmtpSendMail::ReadReply() {
    FLastReply.clear();
    ClearError();
    for (;;) {
        size_t length = CompleteReplyLength(FInput);
        if (length > 0) {
            FLastReply = FInput.substr(0, length);
            FInput.erase(0, length);
            break;
        }
        if (TickCount() >= FDeadline || Aborted()) break;
        std::string received = ReceiveText();
        if (!received.empty()) {
            FInput += received;
            continue;
        }
        if (FErrorCode != 0) break;  // the receive failed: nothing more will come
        if (State() != ssConnected || PeerClosed()) {
            ReportError(WSAENOTCONN);
            break;
        }
        WaitForNotification(FDeadline);
    }
    // An unfinished reply is kept as the explanation but does not count as an answer.
    bool complete = !FLastReply.empty();
    if (!complete) {
        FLastReply = std::move(FInput);
        FInput.clear();
    }
    FReplyCode = complete ? ReplyCodeOf(FLastReply) : -1;
    if (FReplyCode < 0 && TickCount() >= FDeadline) FLastReply = "SendMessage timeout";
    return complete;
}

bool TSmtpSendMail::Command(const std::string& line, int expected, int alsoGood, const char* shown) {
    Note("> " + (shown ? std::string(shown) : line));
    if (!SendText(BlankControlChars(line) + "\r\n")) {
        // A send that gave up on a full buffer records nothing; say why the step failed.
        if (FErrorCode == 0) ReportError(WSAETIMEDOUT);
        FReplyCode = -1;
        Note("! " + GetErrorText());
        return false;
    }
    ReadReply();
    Note(FReplyCode < 0 ? "! " + GetErrorText() : "< " + FLastReply);
    return FReplyCode == expected || (alsoGood >= 0 && FReplyCode == alsoGood);
}

bool TSmtpSendMail::SayHello() {
    Note("connect " + RemoteHost + ":" + RemotePort);
    if (!ConnectInTime()) {
        FNoConnection = TickCount() < FDeadline;
        Note("! " + (GetErrorText().empty() ? std::string("no connection") : GetErrorText()));
        return false;
    }
    if (Security.Tls == TTlsMode::Implicit && !BeginTls()) return false;
    // The greeting's code is not examined: any whole line will do ("ESMTP ready" included).
    // Silence or a closed connection ends the attempt before anything is said to the relay.
    bool greeted = ReadReply();
    Note(greeted ? "< " + FLastReply : "! no greeting: " + GetErrorText());
    if (!greeted) return false;
    std::string host;
    if (!GetHostName(host)) {
        ReportError(WSAGetLastError());
        return false;
    }
    FPipelining = false;
    // A kept connection is worth the EHLO: it learns whether the relay takes commands in one batch.
    bool extended = Security.Tls != TTlsMode::Off || !Security.User.empty() || KeepConnection || FProbing;
    return extended ? ExtendedHello(host) : PlainHello(host);
}

bool TSmtpSendMail::PlainHello(const std::string& host) {
    return Command("HELO " + host, 250) || Command("HELO", 250) || Command("HELO 10.0.0.1", 250);
}

TMailEnvelope TSmtpSendMail::Envelope() const {
    TMailEnvelope e;
    e.MailFrom = SafeAddressList(MailFrom, false);
    std::string list = SafeAddressList(MailTo, false) + ",";
    if (!MailCC.empty()) list += SafeAddressList(MailCC, false) + ",";
    if (!MailBCC.empty()) list += SafeAddressList(MailBCC, false) + ",";
    size_t start = 0;
    for (size_t comma; (comma = list.find(',', start)) != std::string::npos; start = comma + 1) {
        std::string piece = Trim(list.substr(start, comma - start));
        if (!piece.empty()) e.Recipients.push_back(piece);
    }
    return e;
}

bool TSmtpSendMail::SendEnvelope(bool reset) {
    if (!FPipelining) return SendMailFrom() && SendRecipients() && StartData();
    std::string batch = reset ? "RSET\r\n" : "";
    batch += BlankControlChars("MAIL FROM:" + FEnvelope.MailFrom) + "\r\n";
    for (const std::string& recipient : FEnvelope.Recipients) batch += BlankControlChars("RCPT TO:" + recipient) + "\r\n";
    batch += "DATA\r\n";
    if (!SendText(batch)) {
        FKeptLost = reset;
        if (FErrorCode == 0) ReportError(WSAETIMEDOUT);
        FReplyCode = -1;
        return false;
    }
    // A relay that refused the RSET may have taken the rest: the connection is closed before any
    // of the message's text, so the relay drops what it took.
    if (reset && (!ReadReply() || FReplyCode != 250)) {
        FKeptLost = true;
        return false;
    }
    // Every reply is read in order; the first refusal is the one reported. A relay that still
    // answered DATA with 354 waits for text that never comes: the failed Send closes the connection,
    // and an unfinished message is never delivered.
    int failedCode = 0;
    std::string failedReply;
    size_t replies = FEnvelope.Recipients.size() + 2;
    for (size_t i = 0; i < replies; ++i) {
        if (!ReadReply()) return false;
        bool last = i + 1 == replies;
        bool good = last ? FReplyCode == 354 : FReplyCode == 250 || (i > 0 && FReplyCode == 251);
        if (!good && failedCode == 0) {
            failedCode = FReplyCode;
            failedReply = FLastReply;
        }
    }
    if (failedCode == 0) return true;
    FReplyCode = failedCode;
    FLastReply = failedReply;
    return false;
}

bool TSmtpSendMail::SendMailFrom() { return Command("MAIL FROM:" + FEnvelope.MailFrom, 250); }

bool TSmtpSendMail::SendRecipients() {
    for (const std::string& recipient : FEnvelope.Recipients)
        if (!Command("RCPT TO:" + recipient, 250, 251)) return false;
    return true;
}

bool TSmtpSendMail::StartData() { return Command("DATA", 354); }

bool TSmtpSendMail::SendQuit() { return Command("QUIT", 221); }

}  // namespace velmora
