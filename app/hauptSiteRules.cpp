// The site's VELMORA.CONF rules around a form post: who may post from a script (CORS), which
// methods and how often an address may post, the honeypot, and what the mail carries besides
// the form (Date, Message-ID, Reply-To, character set, uploaded files).
#include <chrono>

#include "AnswerPages.h"
#include "ControlChars.h"
#include "FormRules.h"
#include "HAdaptor.h"
#include "HttpEng.h"
#include "LogText.h"
#include "MailHeaders.h"
#include "RateLimit.h"
#include "SharedStore.h"
#include "StateFolder.h"
#include "SysUtils.h"
#include "haupt.h"

namespace velmora {

namespace {

// The form's names and values as posted: what tells the browser's encoding, unlike the site's own
// top and bottom lines of the mail.
std::string FormText() {
    std::string text;
    THttpEngine* engine = CurrentEngine();
    std::unique_ptr<TStringList> names = engine ? engine->GetFormFieldNames() : nullptr;
    if (names)
        for (const std::string& name : *names) text += name + "=" + AdaptGetFormField(name, "") + "\n";
    return text;
}

long long NowSeconds() {
    return std::chrono::duration_cast<std::chrono::seconds>(std::chrono::system_clock::now().time_since_epoch()).count();
}

}  // namespace

bool THauptmenue::AdmitRequest(const TSiteConfig& site) {
    std::string method = UpperCase(HTTP->GetRequestMethod());
    const std::string& origins = site.Text("cors_origins");
    std::string origin = AdaptGetVariable("HTTP_ORIGIN");
    // Only a listed origin is echoed, so the header holds the site's own text, never a stranger's.
    bool allowed = !origin.empty() && !origins.empty() && InWordList(origins, origin);
    if (allowed) {
        AddRequestHeader("Access-Control-Allow-Origin", origin);
        AddRequestHeader("Vary", "Origin");
    }
    if (ServedAltchaChallenge(site)) return false;
    if (method == "OPTIONS" && !origins.empty()) {
        // A browser's question before a script's post: answered, never mailed or counted.
        if (allowed) {
            AddRequestHeader("Access-Control-Allow-Methods", "POST");
            AddRequestHeader("Access-Control-Allow-Headers", "Accept, Content-Type, X-Requested-With");
            AddRequestHeader("Access-Control-Max-Age", "600");
        }
        SetRequestStatus("204 No Content");
        AdaptStartHeader();
        return false;
    }
    if (site.Flag("post_only") && method != "POST") {
        WriteLog("A " + ForLog(method, 20) + " request is not mailed: the site mails posts only");
        WriteMethodNotAllowedPage();
        return false;
    }
    return true;
}

bool THauptmenue::WithinRateLimit(const TSiteConfig& site) {
    const std::string& text = site.Text("rate_limit");
    if (text.empty()) return true;
    TRateLimit limit;
    if (!ParseRateLimit(text, limit)) {
        WriteLog("VELMORA.CONF: rate_limit \"" + ForLog(text, 80) + "\" ignored: write N/SECONDS");
        return true;
    }
    limit.Ipv6Prefix = static_cast<int>(site.Number("rate_limit_ipv6_prefix"));
    std::string address = HTTP->GetRemoteAddr();
    long wait = 0;
    try {
        wait = RequestStoreIsRedis() ? RedisCountPost(address, limit)
                                     : CountPost(StateFolder(FSideFiles.ProgramDir) + "VELMORA.RATE", address, limit, NowSeconds());
    } catch (const EStoreUnavailable&) {
        // Logged once per failure burst by the store's connection, not once per post.
        if (RequestStore().LimitsFailOpen()) return true;
        WriteLog("not checked: rate limit, the store cannot be asked (post from " + ForLog(address, 64) + ", not mailed)");
        WriteUnavailablePage();
        return false;
    } catch (const std::exception& e) {
        // A counts file that cannot be kept must not take the site's forms down with it.
        WriteLog(std::string("Rate limit not applied: ") + e.what());
        return true;
    }
    if (wait == 0) return true;
    WriteLog("Post from " + ForLog(address, 64) + " refused: more than " + std::to_string(limit.Posts) + " in " +
             std::to_string(limit.Seconds) + " seconds");
    WriteTooManyPostsPage(wait);
    return false;
}

bool THauptmenue::CaughtByHoneypot(const TSiteConfig& site) const {
    const std::string& field = site.Text("honeypot_field");
    if (field.empty()) return false;
    std::string value = AdaptGetFormField(field, "");
    if (value.empty()) return false;
    WriteLog("Post from " + ForLog(HTTP->GetRemoteAddr(), 64) + " not mailed: it filled the hidden field " +
             ForLog(field, 80) + " with \"" + ForLog(value) + "\"");
    return true;
}

void THauptmenue::PrepareMail(TSmtpSendMail& mail, const TMailRequest& r) const {
    const TSiteConfig& site = *r.Site;
    if (site.Exists()) {
        mail.MailHeader().Add(DateHeaderLine());
        mail.MailHeader().Add(MessageIdHeaderLine(mail.MailFrom));
    }
    const std::string& replyField = site.Text("replyto_field");
    if (!replyField.empty()) {
        std::string posted = AdaptGetFormField(replyField, "");
        std::string address = ReplyToAddress(posted);
        if (!address.empty()) mail.MailHeader().Add("Reply-To: " + address);
        else if (!posted.empty()) WriteLog("Reply-To \"" + ForLog(posted) + "\" left out: not one plain address");
    }
    if (site.IsSet("mail_charset")) {
        std::string charset = ChooseMailCharset(site.Text("mail_charset"), FormText() + mail.MailSubject,
                                                AdaptGetFormField("_charset_", ""));
        SetHeaderCharset(mail.MailHeader(), charset);
        mail.MailSubject = EncodeHeaderWords(BlankControlChars(mail.MailSubject), charset);
    }
    if (r.Attachments.Count() > 0) mail.SetAttachments(r.Attachments);
}

}  // namespace velmora
