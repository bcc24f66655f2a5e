// THauptmenue: the program's main window. It owns the request engine, the mail sender, the answer
// template filter and the text lists, and handles each form post (settings, allowed list, mail, answer).
#pragma once

#include <mutex>
#include <string>
#include <vector>

#include "AltchaCheck.h"
#include "Forms.h"
#include "GenEng.h"
#include "HSmtp.h"
#include "HttpFileFilter.h"
#include "MailSettings.h"
#include "Outbox.h"
#include "SiteConfig.h"
#include "StringList.h"

namespace velmora {

// The paths of the side files, worked out once from the program file's folder.
struct TSideFiles {
    std::string ProgramDir;  // with its trailing "/"
    std::string Ini, All, Top, Bot;
    std::string Conf;  // VELMORA.CONF, the site's options (see SiteConfig.h)
};

// Created once per process by the program entry (or by a test). Never shown: the engine component
// hides it when it loads. Requests are handled one at a time per process (see HTTPExecRequest).
class THauptmenue : public TForm {
public:
    // The form description: creates every component with its stored settings.
    explicit THauptmenue(TComponent* owner);

    TGeneralHttpEngine* HTTP;
    TSmtpSendMail* Nachricht;
    THttpFileFilter* RueckgabeHTML;
    TStringList Allowed;  // allowed recipient addresses, one or more per line
    TStringList Top;      // lines before the form's fields in every mail
    TStringList Bottom;   // lines after them
    TStringList vars;     // the posted field names while a body is built

    // OnFirstExecRequest: locates the side files beside the program file and loads the text ones.
    void HTTPFirstExecRequest(TObject* sender);
    // OnExecRequest: one form post from settings file to answer page.
    void HTTPExecRequest(TObject* sender);
    // Fills Nachricht's body from Top, the posted fields (but those named in leaveOut), Bottom
    // and (when dateLine) the date.
    void zuordnen(bool dateLine, const std::vector<std::string>& leaveOut = {});

    const TSideFiles& SideFiles() const noexcept { return FSideFiles; }

private:
    // What one request decided from the settings record and the form.
    struct TMailRequest {
        TMailSettings Stored;     // the record as written back, with the new counter
        TMailSettings Work;       // the same with the form's overrides
        std::shared_ptr<const TSiteConfig> Site;  // VELMORA.CONF as this request found it
        std::string FormTemplate;                 // the form's template, resolved; "" for the stored one
        bool RecipientsAllowed = false;
        TStringList Attachments;  // the post's uploads, when the site attaches them
        TAltchaSolution Altcha;   // the post's checked solution, claimed only when it is mailed
    };

    void ApplyFormOverrides(TMailRequest& r);
    void CheckRecipients(TMailRequest& r);
    void CopyToComponents(const TMailRequest& r);
    // Unlocks hold once it has copied what it needs of the shared components.
    void SendAndAnswer(const TMailRequest& r, std::unique_lock<std::mutex>& hold);
    // Spends the post's solved challenge (hauptAltcha.cpp), without the lock: false when the post
    // was refused (a replay, or the record of used solutions out of reach) and answered.
    bool ClaimSolution(const TMailRequest& r);
    bool InAllowedList(const std::string& address) const;
    // The posted recipients, each allowed, joined by commas; "" when one is not or the value is
    // longer than the record's field.
    std::string AllowedRecipients(const std::string& posted, TMailField field) const;
    // The site's rules that come before a post is counted (hauptSiteRules.cpp): the CORS preflight,
    // post_only and rate_limit. False when the request has been answered here.
    bool AdmitRequest(const TSiteConfig& site);
    bool WithinRateLimit(const TSiteConfig& site);
    // The content rules and the hosted CAPTCHA (hauptSpamRules.cpp); false when the post has been
    // refused. Runs without the request lock: it reads only the request and the site's files.
    bool PassesSpamRules(const TSiteConfig& site);
    // The proof-of-work rule (hauptAltcha.cpp): true when the request was a GET for a challenge and
    // has been answered; PassesAltcha false when the post was refused and answered, else the
    // checked solution in solution (not yet spent: see ClaimSolution).
    bool ServedAltchaChallenge(const TSiteConfig& site);
    bool PassesAltcha(const TSiteConfig& site, TAltchaSolution& solution);
    // A filled honeypot field: the post is thanked but not mailed.
    bool CaughtByHoneypot(const TSiteConfig& site) const;
    // The site's header lines, character set and attachments on the request's own sender.
    void PrepareMail(TSmtpSendMail& mail, const TMailRequest& r) const;
    // Sends the request's mail; with the site's outbox, first delivers kept mail for a while and
    // keeps this one when the relay cannot take it now (hauptOutbox.cpp). True when the mail was
    // sent or kept.
    bool SendOrKeep(TSmtpSendMail& sender, const TMailRequest& r, bool configuredRelay);
    // delivery = background: keeps the mail in the outbox and hands it to the sender thread (a
    // resident engine) or delivers kept mail as a post does (a CGI start). False: not kept.
    bool KeepForSender(TSmtpSendMail& sender, const TMailRequest& r, const TOutboxSettings& outbox,
                       bool configuredRelay);

    TSideFiles FSideFiles;
    // Held while a post fills the shared components above (Nachricht, RueckgabeHTML, vars) and
    // copies them for its own sending. The rules, the store and the relay run without it: each
    // request's state is its thread's own.
    std::mutex FRequestLock;
};

// The eleven field names, as posted (case counts), that never go into the body.
bool IsControlFieldName(const std::string& name);
// The form fields that carry a spam defence's token rather than the visitor's text: never mailed.
std::vector<std::string> SpamTokenFields(const TSiteConfig& site);
// The form's read limits (uploads up to the site's max_upload_bytes); before the framework's
// start-up in the program, so that a CGI start handing its post over already knows them.
void InstallFormReadLimit();
// Sends the log's lines where VELMORA.CONF says (the file, the system log, or both); set before
// anything is logged.
void InstallLogRoute();

}  // namespace velmora
