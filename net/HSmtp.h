// TSmtpSendMail: delivers one message to an SMTP relay (HELO, MAIL FROM, RCPT TO, DATA, QUIT)
// with a header template, body lines and base64 attachments in a MIME multipart layout; on request
// over TLS (STARTTLS or from connect) and with a login (AUTH PLAIN or LOGIN).
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "HSockets.h"
#include "Streams.h"
#include "StringList.h"
#include "TlsChannel.h"

namespace velmora {

struct TSmtpCapabilities;

using TBodyEntryEvent = std::function<void(const std::string& entryName)>;
// A notice for the program's log (a security setting that weakens the dialogue).
using TSmtpLogEvent = std::function<void(const std::string& line)>;

enum class TTlsMode {
    Off,       // the plain dialogue with HELO
    StartTls,  // STARTTLS when the relay offers it, else on in plain text
    Required,  // STARTTLS or no mail
    Implicit   // TLS from the first byte (port 465)
};

// How the dialogue is secured. The default keeps the plain dialogue: HELO, no TLS, no login.
struct TSmtpSecurity {
    TTlsMode Tls = TTlsMode::Off;
    TTlsSettings Certificates;
    std::string User;  // a login (AUTH) is made when this is non-empty
    std::string Password;
    bool LoginWithoutTls = false;  // a login may go over an unencrypted connection
};

// A message as the relay gets it: the envelope, and the DATA text (header, body and attachments,
// dot-stuffed, ending in the "." line), which is what a message kept for a later try holds.
struct TMailEnvelope {
    std::string MailFrom;                 // as it follows "MAIL FROM:"
    std::vector<std::string> Recipients;  // each as it follows "RCPT TO:"
};
// Takes the DATA text piece by piece, in order; throws to stop the composing.
using TDataSink = std::function<void(const std::string& bytes)>;

// The body text that Send is preparing on the calling thread (one per thread, not per component).
std::string& MessageBuffer();

// Use an instance from the thread that created it, and one Send at a time.
class TSmtpSendMail : public TTCPClient {
public:
    explicit TSmtpSendMail(TComponent* owner = nullptr);

    std::string MailFrom;
    std::string MailTo;
    std::string MailCC;
    std::string MailBCC;
    std::string MailSubject;
    TBodyEntryEvent OnBodyEntry;
    TSmtpSecurity Security;
    TSmtpLogEvent OnLog;

    // The component owns its lists; the setters copy.
    const TStringList& MailBody() const noexcept { return FMailBody; }
    TStringList& MailBody() noexcept { return FMailBody; }
    virtual void SetMailBody(const TStringList& value) { FMailBody.Assign(value); }
    const TStringList& MailHeader() const noexcept { return FMailHeader; }
    TStringList& MailHeader() noexcept { return FMailHeader; }
    virtual void SetMailHeader(const TStringList& value) { FMailHeader.Assign(value); }
    const TStringList& Attachments() const noexcept { return FAttachments; }
    TStringList& Attachments() noexcept { return FAttachments; }
    virtual void SetAttachments(const TStringList& value) { FAttachments.Assign(value); }

    // Delivers the message within timeoutSeconds. True only when every step up to and including
    // QUIT was answered as expected. A failed Send closes its connection. A port text that is no
    // port and an attachment that cannot be opened raise out of Send.
    bool Send(int timeoutSeconds);
    // The same with the budget in milliseconds.
    bool SendWithin(uint64_t budgetMs);
    // Delivers a message composed earlier (by ComposeData) in place of the one of the fields:
    // envelope, and the DATA text read from data to its end.
    bool SendComposed(const TMailEnvelope& envelope, TStream& data, uint64_t budgetMs);
    // The envelope and the DATA text that Send would send now, without a connection. The sink
    // gets the text in pieces; an attachment that cannot be opened raises, as in Send.
    TMailEnvelope Envelope() const;
    void ComposeData(const TDataSink& sink);
    // Keeps the connection open after a message the relay took, for the next one to the same relay
    // and security (announced by RSET), up to kKeptMessages; an error or CloseKept ends it.
    bool KeepConnection = false;
    static constexpr int kKeptMessages = 100;
    // Says QUIT on a kept connection and closes it.
    void CloseKept();
    bool HoldsKeptConnection() const noexcept { return FKeptMessages > 0; }
    // After Send: the relay took the message (250 after the data), whatever QUIT brought.
    bool DataAccepted() const noexcept { return FDataAccepted; }
    // After a failed Send: the whole DATA text went out and no reply to it came. The relay may
    // have the message all the same: a new try may deliver a second copy.
    bool DataUnanswered() const noexcept { return FDataUnanswered; }
    // How long the reply to the end of the DATA text is awaited at least, whatever is left of the
    // budget (RFC 5321 gives the relay 10 minutes); 0: the budget alone decides.
    uint64_t FinalReplyWaitMs = 0;
    // After a failed Send: the relay refused for good (a 5xx reply). Anything else (no connection,
    // silence, the budget spent, a 4xx reply) may pass on a later try.
    bool PermanentFailure() const noexcept { return FReplyCode >= 500 && FReplyCode < 600; }
    // After a failed Send: no connection was made, and at once (refused, no such host), as
    // opposed to a relay that let the time budget run out.
    bool NoConnection() const noexcept { return FNoConnection; }
    // Raised the moment the relay has accepted the data, before QUIT: a kept copy of the message
    // is removed here, so that the window in which a crash could send it twice stays small.
    std::function<void()> OnAccepted;
    // After a failed Send: why TLS failed, else the socket error text when there is one, else the
    // relay's last reply (or the sender's own reason for refusing a step).
    std::string GetErrorText() const;

    // Tries the way to the relay without sending mail: connect, greeting, EHLO (HELO when refused
    // and nothing asks for more), STARTTLS or TLS from the start with the certificate checked as
    // Security says, the login, then RSET and QUIT. True when every step was answered as expected;
    // else GetErrorText says why, as after Send.
    bool Probe(uint64_t budgetMs);
    // When set, the dialogue is written down: each line sent as "> ..." (a login's secrets as
    // "***"), each reply received as "< ..." and the connection's and TLS's own failures.
    std::vector<std::string>* Transcript = nullptr;

    virtual void BufferText(const std::string& s);
    // For OnBodyEntry handlers: puts s into the message in place of the placeholder.
    virtual void AddBodyText(const std::string& s);

    uint64_t Deadline() const noexcept { return FDeadline; }  // TickCount milliseconds
    int ReplyCode() const noexcept { return FReplyCode; }
    const std::string& LastReply() const noexcept { return FLastReply; }

protected:
    bool SayHello();
    bool SendMailFrom();
    bool SendRecipients();
    bool StartData();
    bool SendContent();
    bool SendQuit();
    // True when a whole reply line arrived, whatever its code.
    bool ReadReply();
    // EHLO, STARTTLS and AUTH as Security asks; the plain HELO when the relay refuses EHLO and
    // neither TLS nor a login is required.
    bool ExtendedHello(const std::string& host);
    bool Login(const TSmtpCapabilities& capabilities);

private:
    bool RunDialogue(bool kept);
    // MAIL FROM, RCPT TO and DATA; in one write when the relay offers PIPELINING, then led by
    // the kept connection's RSET when reset is set (false with FKeptLost set when the relay did
    // not answer that RSET with 250: nothing of the message has gone out).
    bool SendEnvelope(bool reset = false);
    std::string KeptKey() const;
    // RSET on the kept connection of an earlier message: true when the relay is ready for the next.
    bool ReuseKept();
    // The kept connection cannot carry the next message: closed, and nothing of it left.
    void DropKept();
    // Looks up the relay and connects, both within the connect wait and the budget.
    bool ConnectInTime();
    bool PlainHello(const std::string& host);
    bool BeginTls();
    // Fails the step with the sender's own explanation in place of a relay's reply.
    bool Refuse(const std::string& why);
    // shown: what the transcript holds in place of a line that carries a secret.
    bool Command(const std::string& line, int expected, int alsoGood = -1, const char* shown = nullptr);
    // Clears what an earlier dialogue left and sets the deadline of the next.
    void BeginAttempt(uint64_t budgetMs);
    void Note(const std::string& entry);
    std::string HeaderText(std::string& partHeader) const;
    // The DATA text of the fields, or of a composed message, through Emit.
    void EmitMessage();
    void EmitComposed(TStream& data);
    // The body's DATA text: placeholders filled, transfer-encoded and dot-stuffed.
    std::string BodyText(const std::string& text);
    void SendBase64File(const std::string& path);
    // The DATA text goes out in large pieces, so that a message is a few segments and never
    // a train of small writes waiting on delayed acknowledgements.
    void Emit(const std::string& text);
    bool FlushData();

    TStringList FMailBody;
    TStringList FMailHeader;
    TStringList FAttachments;
    uint64_t FDeadline = 0;
    int FReplyCode = -1;
    std::string FLastReply;
    std::string FInput;    // received bytes not yet taken as a reply
    std::string FOutput;   // DATA text not yet sent
    bool FSendFailed = false;
    bool FDataAccepted = false;
    bool FDataUnanswered = false;
    bool FNoConnection = false;
    TMailEnvelope FEnvelope;       // of the running Send
    TStream* FComposed = nullptr;  // the DATA text of SendComposed
    TDataSink FDataSink;           // set while ComposeData runs: Emit's text goes there
    int FKeptMessages = 0;         // messages sent over the open connection it keeps; 0: none kept
    bool FPipelining = false;      // the relay offered PIPELINING in its answer to EHLO
    bool FKeptLost = false;        // the batched RSET of the kept connection went unanswered or refused
    std::string FKeptFor;          // the relay and security the kept connection was made for
    bool FProbing = false;         // a Probe runs: EHLO whatever Security asks
};

}  // namespace velmora
