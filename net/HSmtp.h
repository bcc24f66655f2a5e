// TSmtpSendMail: delivers one message to an SMTP relay (HELO, MAIL FROM, RCPT TO, DATA, QUIT)
// with a header template, body lines and base64 attachments in a MIME multipart layout; on request
// over TLS (STARTTLS or from connect) and with a login (AUTH PLAIN or LOGIN).
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "HSockets.h"
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

// The body text that Send is preparing on the calling thread (one per thread, not per component).
std::string& MessageBuffer();

// The MIME boundary of messages with attachments.
inline constexpr const char* kMimeBoundary = "64fd12hzzZ146r703k319Ap";

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
    // After a failed Send: why TLS failed, else the socket error text when there is one, else the
    // relay's last reply (or the sender's own reason for refusing a step).
    std::string GetErrorText() const;

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
    bool RunDialogue();
    bool WaitForConnection();
    bool PlainHello(const std::string& host);
    bool BeginTls();
    // Fails the step with the sender's own explanation in place of a relay's reply.
    bool Refuse(const std::string& why);
    bool Command(const std::string& line, int expected, int alsoGood = -1);
    std::string HeaderText(std::string& partHeader) const;
    void SendBody(const std::string& text);
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
};

}  // namespace velmora
