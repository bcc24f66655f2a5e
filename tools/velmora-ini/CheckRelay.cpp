// velmora-ini check, the relay: the settings file's relay tried with the site's TLS and login the
// way a post would, stopping before MAIL FROM, and the step that failed explained with its fix.
#include "ControlChars.h"
#include "HSmtp.h"
#include "MailSecurity.h"
#include "SiteCheck.h"
#include "SysUtils.h"

namespace velmora {

namespace {

// Long enough for a slow relay's greeting and a TLS handshake, short enough for a person waiting.
constexpr uint64_t kProbeBudgetMs = 20000;

bool Starts(const std::string& s, const char* prefix) { return s.rfind(prefix, 0) == 0; }

// The step the dialogue stopped at: the last thing velmora did before the failure was written.
std::string FailedStep(const std::vector<std::string>& transcript) {
    for (auto it = transcript.rbegin(); it != transcript.rend(); ++it) {
        if (Starts(*it, "connect ")) return "connect";
        if (Starts(*it, "TLS handshake")) return "tls";
        if (Starts(*it, "< ") && it == transcript.rbegin()) continue;  // the refusing reply itself
        if (Starts(*it, "> ")) {
            std::string command = UpperCase(it->substr(2, 8));
            if (Starts(command, "EHLO") || Starts(command, "HELO")) return "ehlo";
            if (Starts(command, "STARTTLS")) return "starttls";
            if (Starts(command, "RSET") || Starts(command, "QUIT")) return "end";
            return "auth";  // AUTH and the lines of a login
        }
    }
    return "connect";
}

// The AUTH line of the last EHLO answer ("AUTH LOGIN PLAIN"), "" when the relay offered none.
std::string OfferedAuth(const std::vector<std::string>& transcript) {
    for (auto it = transcript.rbegin(); it != transcript.rend(); ++it) {
        if (!Starts(*it, "< 250")) continue;
        std::string upper = UpperCase(*it);
        size_t at = upper.find("AUTH");
        if (at == std::string::npos || at < 4) continue;
        size_t end = upper.find(" | ", at);
        return it->substr(at, end == std::string::npos ? std::string::npos : end - at);
    }
    return "";
}

std::string FixFor(const std::string& step, const std::string& why, const TSite& site) {
    if (step == "connect")
        return "start the relay, or correct the relay: velmora-ini set " + site.Dir + " mailhost=HOST mailport=PORT";
    if (step == "tls")
        return "name the authority that signed the relay's certificate in tls_ca_file, and set mailhost to a name the "
               "certificate holds (465 needs tls = implicit, 25 and 587 tls = starttls or required)";
    if (step == "starttls" || why.find("offers no STARTTLS") != std::string::npos)
        return "switch STARTTLS on at the relay, or set tls = starttls (plain text when not offered) or off in VELMORA.CONF";
    if (why.find("without TLS") != std::string::npos)
        return "set tls = required (or smtp_login_without_tls = yes, which shows the password to the network)";
    if (step == "auth" || why.find("AUTH") != std::string::npos)
        return "correct smtp_user and smtp_password in VELMORA.CONF, or the mechanisms the relay offers";
    if (step == "ehlo") return "the relay refuses EHLO: set tls = off and no smtp_user, or use another relay";
    return "the relay stops after the login; ask its administrator";
}

}  // namespace

void CheckRelay(const TSite& site, TFindings& found) {
    if (!site.Settings) return;
    TSmtpSendMail sender(nullptr);
    sender.RemoteHost = site.Settings->Get(TMailField::mailhost);
    sender.RemotePort = site.Settings->Get(TMailField::mailport);
    sender.Security = MailSecurity(site.Conf, true, site.Dir);
    std::vector<std::string> transcript;
    sender.Transcript = &transcript;
    std::string relay = sender.RemoteHost + ":" + sender.RemotePort;
    if (sender.Security.Tls != TTlsMode::Off && !sender.Security.Certificates.Verify)
        found.push_back({"relay", "tls_verify = no: any certificate is taken, so anyone between velmora and " + relay + " can read the mail",
                         "set tls_verify = yes (with tls_ca_file for a certificate of your own authority)", {}});
    bool ok = false;
    try {
        ok = sender.Probe(kProbeBudgetMs);
    } catch (const Exception& e) {
        found.push_back({"relay", relay + ": " + e.Message(), "correct mailhost and mailport: velmora-ini set " + site.Dir + " mailport=25", {}});
        return;
    }
    if (ok) return;
    // The relay's own words: one line, whatever it sent.
    std::string why = Trim(BlankControlChars(sender.GetErrorText()));
    std::string step = FailedStep(transcript);
    std::string problem = "relay " + relay + ": " + (why.empty() ? "no answer" : why);
    std::string auth = OfferedAuth(transcript);
    if (step == "auth") problem += auth.empty() ? " (it offers no AUTH)" : " (it offers " + auth + ")";
    found.push_back({"relay", problem + "; posts get the error page (or wait in the outbox)", FixFor(step, why, site), transcript});
}

}  // namespace velmora
