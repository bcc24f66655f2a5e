// TSmtpSendMail's secured greeting: EHLO, STARTTLS with a fresh EHLO inside TLS, and the login
// (AUTH PLAIN, else AUTH LOGIN). Credentials go out only over TLS unless plain text is allowed.
#include "HSmtp.h"

#include "MailEncoding.h"
#include "SmtpCapabilities.h"

namespace velmora {

bool TSmtpSendMail::Refuse(const std::string& why) {
    ClearError();
    FReplyCode = -1;
    FLastReply = why;
    Note("! " + why);
    return false;
}

bool TSmtpSendMail::BeginTls() {
    Note("TLS handshake with " + RemoteHost + (Security.Certificates.Verify ? ", certificate checked" : ", any certificate"));
    if (StartTls(Security.Certificates, FDeadline)) return true;
    FReplyCode = -1;
    FLastReply = TlsError();
    Note("! " + FLastReply);
    return false;
}

bool TSmtpSendMail::ExtendedHello(const std::string& host) {
    bool login = !Security.User.empty();
    bool tlsRequired = Security.Tls == TTlsMode::Required;
    if (!Command("EHLO " + host, 250)) {
        // A relay that refuses EHLO offers neither STARTTLS nor AUTH.
        if (FReplyCode < 0 || tlsRequired || login) return false;
        return PlainHello(host);
    }
    TSmtpCapabilities caps = ParseCapabilities(FLastReply);
    if (!TlsActive() && (Security.Tls == TTlsMode::StartTls || tlsRequired)) {
        if (caps.StartTls && Command("STARTTLS", 220)) {
            // Text that came after the answer came unencrypted: whoever sent it could make us
            // take it as the relay's answers inside TLS.
            if (!FInput.empty()) return Refuse("The relay sent text after its answer to STARTTLS: mail not sent");
            if (!BeginTls() || !Command("EHLO " + host, 250)) return false;
            caps = ParseCapabilities(FLastReply);
        } else if (FReplyCode < 0 && caps.StartTls) {
            return false;
        } else if (tlsRequired) {
            // A relay (or someone between us) that does not offer TLS gets neither mail nor login.
            return caps.StartTls ? false : Refuse("The relay " + RemoteHost + " offers no STARTTLS: mail not sent without TLS");
        }
    }
    // Batched commands only where the mail is the point of the connection: a login's steps stay
    // one at a time.
    FPipelining = caps.Pipelining && KeepConnection;
    return !login || Login(caps);
}

bool TSmtpSendMail::Login(const TSmtpCapabilities& caps) {
    if (!TlsActive() && !Security.LoginWithoutTls)
        return Refuse("No login to the relay " + RemoteHost + " over a connection without TLS: mail not sent");
    const std::string& user = Security.User;
    const std::string& password = Security.Password;
    if (caps.AuthPlain)
        return Command("AUTH PLAIN " + EncodeBase64(std::string(1, '\0') + user + '\0' + password), 235, -1, "AUTH PLAIN ***");
    if (caps.AuthLogin)
        return Command("AUTH LOGIN", 334) && Command(EncodeBase64(user), 334) && Command(EncodeBase64(password), 235, -1, "***");
    return Refuse("The relay " + RemoteHost + " offers neither AUTH PLAIN nor AUTH LOGIN: mail not sent");
}

}  // namespace velmora
