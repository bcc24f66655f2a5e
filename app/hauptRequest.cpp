// HTTPExecRequest, the handling of one form post: count it in the settings file, let the form
// override the record's fields, test the recipients against the allowed list, send, and answer.
#include <cstdint>

#include "AllowedList.h"
#include "AnswerPages.h"
#include "EnvPaths.h"
#include "FormRules.h"
#include "HAdaptor.h"
#include "HttpEng.h"
#include "JsonText.h"
#include "LogText.h"
#include "MailSecurity.h"
#include "Multipart.h"
#include "ReplayStore.h"
#include "RequestArchive.h"
#include "SettingsFile.h"
#include "SharedStore.h"
#include "SysUtils.h"
#include "UploadAttachments.h"
#include "haupt.h"

namespace velmora {

namespace {

// The form fields that override the record's field of the same name, in the order they are read.
constexpr TMailField OverriddenFields[] = {TMailField::mailfrom, TMailField::mailcc,   TMailField::mailat,
                                           TMailField::mailsubject, TMailField::mailhost, TMailField::mailport,
                                           TMailField::htmlfile};

std::string FormField(const std::string& name, const std::string& def = "") { return AdaptGetFormField(name, def); }

// The counter wraps as a 32-bit register does instead of overflowing.
int32_t NextCounter(int32_t c) { return static_cast<int32_t>(static_cast<uint32_t>(c) + 1u); }

// The sender that does the work of Nachricht for this request. Its socket notifications arrive on
// the thread that creates it, so it is made on the request's thread, whatever thread made the window.
void CopySender(const TSmtpSendMail& from, TSmtpSendMail& to) {
    to.RemoteHost = from.RemoteHost;
    to.RemotePort = from.RemotePort;
    to.MailFrom = from.MailFrom;
    to.MailTo = from.MailTo;
    to.MailCC = from.MailCC;
    to.MailBCC = from.MailBCC;
    to.MailSubject = from.MailSubject;
    to.SetMailHeader(from.MailHeader());
    to.SetMailBody(from.MailBody());
    to.SetAttachments(from.Attachments());
    to.OnBodyEntry = from.OnBodyEntry;
}

}  // namespace

bool IsControlFieldName(const std::string& name) {
    static const char* const names[] = {"MAILFROM", "MAILTO",  "MAILCC",   "MAILAT",   "MAILSUBJECT", "HTMLFILE",
                                        "HTMLURL",  "MAILHOST", "VARNAMES", "MAILPORT", "CHAR"};
    for (const char* n : names)
        if (name == n) return true;
    return false;
}

bool THauptmenue::InAllowedList(const std::string& address) const {
    for (const std::string& line : Allowed)
        if (AllowedByLine(line, address)) return true;
    return false;
}

std::string THauptmenue::AllowedRecipients(const std::string& posted, TMailField field) const {
    // A value cut to fit the record's field would name another address than the one checked.
    if (posted.size() > static_cast<size_t>(MailFieldInfo(field).Capacity)) return "";
    std::string joined;
    for (const std::string& address : AllowedListEntries(posted)) {
        if (!InAllowedList(address)) return "";
        joined += (joined.empty() ? "" : ",") + address;
    }
    return joined;
}

void THauptmenue::ApplyFormOverrides(TMailRequest& r) {
    for (TMailField field : OverriddenFields) {
        const TMailFieldInfo& f = MailFieldInfo(field);
        std::string value = FormField(f.Name).substr(0, static_cast<size_t>(f.Capacity));
        if (value.empty()) continue;
        if (field == TMailField::htmlfile) {
            std::string why;
            r.FormTemplate = FormTemplatePath(value, ModuleFileName(), why);
            if (r.FormTemplate.empty()) WriteLog("Form field htmlfile \"" + ForLog(value) + "\" ignored: " + why);
            continue;
        }
        bool relay = field == TMailField::mailhost || field == TMailField::mailport;
        if (relay && r.Site->Text("form_relay") != "allow") {
            // Otherwise any visitor could make the server connect to any host and port it reaches.
            WriteLog("Form field " + std::string(f.Name) + " \"" + ForLog(value) +
                     "\" ignored: the site does not let a form choose the relay");
            continue;
        }
        r.Work.Set(field, value);
    }
}

void THauptmenue::CheckRecipients(TMailRequest& r) {
    // Each recipient of a posted list is checked, and the sender gets exactly those, joined by
    // commas: its own split then cannot find an address the list never saw.
    std::string to = FormField("mailto");
    std::string toChecked = AllowedRecipients(to, TMailField::mailto);
    bool toAllowed = to.empty() || !toChecked.empty();
    if (!to.empty() && toAllowed) r.Work.Set(TMailField::mailto, toChecked);
    // The copy recipient is a recipient too: unchecked, any form could send anyone a copy.
    std::string cc = FormField("mailcc");
    std::string ccChecked = AllowedRecipients(cc, TMailField::mailcc);
    bool ccAllowed = cc.empty() || !ccChecked.empty();
    if (!cc.empty() && ccAllowed) r.Work.Set(TMailField::mailcc, ccChecked);
    if (!ccAllowed) WriteLog("Copy recipient \"" + ForLog(cc) + "\" refused: not in the allowed list");
    r.RecipientsAllowed = toAllowed && ccAllowed;
}

void THauptmenue::CopyToComponents(const TMailRequest& r) {
    const TMailSettings& w = r.Work;
    RueckgabeHTML->SetFileName(r.FormTemplate.empty() ? w.Get(TMailField::htmlfile) : r.FormTemplate);
    Nachricht->MailFrom = w.Get(TMailField::mailfrom);
    Nachricht->MailTo = w.Get(TMailField::mailto);
    Nachricht->MailCC = w.Get(TMailField::mailcc);
    Nachricht->RemoteHost = w.Get(TMailField::mailhost);
    Nachricht->RemotePort = w.Get(TMailField::mailport);
    std::string subject = w.Get(TMailField::mailsubject);
    Nachricht->MailSubject = w.NumberedSubject() ? subject + " #" + IntToStr(w.Counter()) : subject;
}

void THauptmenue::SendAndAnswer(const TMailRequest& r, std::unique_lock<std::mutex>& hold) {
    std::string refusal = MailSecurityRefusal(*r.Site);
    if (!refusal.empty()) {
        WriteLog(refusal);
        WriteErrorPage("the site's mail settings are refused, see its log");
        return;
    }
    TSmtpSendMail sender(nullptr);
    CopySender(*Nachricht, sender);
    // The request's own answer filter: the shared one's file name may change under another request.
    THttpFileFilter answer(nullptr);
    answer.SetFileName(RueckgabeHTML->FileName());
    answer.OnHttpEntry = RueckgabeHTML->OnHttpEntry;
    answer.OnHttpLogicalEntry = RueckgabeHTML->OnHttpLogicalEntry;
    // From here on only copies are used: the mail dialogue and the answer run outside the lock, so
    // one slow relay does not hold the requests of other threads.
    hold.unlock();
    PrepareMail(sender, r);
    // A relay a form chose is somebody else's: it may get the mail, never the site's login.
    bool configuredRelay = r.Work.Get(TMailField::mailhost) == r.Stored.Get(TMailField::mailhost) &&
                           r.Work.Get(TMailField::mailport) == r.Stored.Get(TMailField::mailport);
    sender.Security = MailSecurity(*r.Site, configuredRelay, FSideFiles.ProgramDir);
    sender.OnLog = [](const std::string& line) { WriteLog(line); };
    const bool honeypot = CaughtByHoneypot(*r.Site);
    // Only a post about to be mailed spends its solution: refused posts cannot wear out the record
    // of used solutions, and one the relay fails gets its solution back for the visitor's retry.
    if (!honeypot && !ClaimSolution(r)) return;
    const bool sent = honeypot || SendOrKeep(sender, r, configuredRelay);
    if (!sent && !r.Altcha.Key.empty()) ReleaseClaim(r.Altcha.Key);
    // Before the answer: once the visitor is thanked the post is in the archive.
    ArchivePost(*r.Site, FSideFiles.ProgramDir, sender,
                honeypot ? TPostOutcome::Honeypot : sent ? TPostOutcome::Sent : TPostOutcome::Failed);
    if (sent) {
        std::string url = FormField("htmlurl");
        if (!url.empty() && !IsAllowedRedirect(url, r.Site->Text("redirect_hosts"))) {
            // A javascript: or data: address would run the visitor's text in the site's name, and
            // "//host" or "\\host" would send the visitor to a stranger's site in the site's name.
            WriteLog("Form field htmlurl \"" + ForLog(url) +
                     "\" ignored: only relative addresses and http(s) addresses of the site's redirect_hosts redirect");
            url.clear();
        }
        if (!url.empty()) WriteRedirectPage(url);
        else if (!answer.FileName().empty() && !JsonAnswers()) answer.Execute();
        else WriteThankYouPage();
        return;
    }
    // A script that asked for JSON is told of the failure whatever the form's Erroroff says.
    if (FormField("Erroroff").empty() || JsonAnswers()) WriteErrorPage(sender.GetErrorText());
    else if (!answer.FileName().empty()) answer.Execute();
}

void THauptmenue::HTTPExecRequest(TObject*) {
    // Up to the count only the thread's own request, the site's cached files and the store are
    // used: no lock, so a slow rule, store or service of one post never holds another's.
    SetJsonAnswers(AcceptPrefersJson(AdaptGetVariable("HTTP_ACCEPT")));
    std::shared_ptr<const TSiteConfig> site = LoadSiteConfig(FSideFiles.Conf, WriteLog);
    UseRequestStore(StoreSettings(*site, FSideFiles.ProgramDir));
    if (!AdmitRequest(*site)) return;
    int limit = CurrentEngine() ? CurrentEngine()->ReadLimit() : HTTP->AutoReadLimit();
    if (RequestState().BodyOverLimit) {
        // The engine reads no body above its limit: mailing the empty form and thanking would
        // report a lost post as received. Nothing is counted or sent.
        WriteLog("Form of " + IntToStr(HTTP->GetContentLength()) + " bytes not read, more than " +
                 IntToStr(limit) + ": nothing sent");
        SetRequestStatus("413 Payload Too Large");
        WriteTooLargePage(limit);
        return;
    }
    if (RequestState().TooManyUploads) {
        // The decoder stopped at the first file beyond the limit: what it read is not the form.
        const long most = site->Number("max_upload_files");
        WriteLog("Form with more than " + IntToStr(most) + " files not read: nothing sent");
        WriteTooManyFilesPage(most);
        return;
    }
    if (RequestState().TextPartTooLong) {
        // Mailed without that field, the post would be thanked for a form the site never got whole.
        WriteLog("Form with a text field over " + IntToStr(MultipartRingSize / 1024) + " KB not read: nothing sent");
        WriteTextTooLongPage(MultipartRingSize / 1024);
        return;
    }
    if (!WithinRateLimit(*site)) return;
    // Before the count: a robot's posts neither bump the counter nor reach the settings file.
    if (!PassesSpamRules(*site)) return;
    TAltchaSolution altcha;
    if (!PassesAltcha(*site, altcha)) return;
    // Counted first, under the file's lock, so that concurrent requests never lose a count; the
    // form's overrides apply to this request only and never reach the file. The file's own lock
    // is enough: other threads' requests go on meanwhile.
    auto stored = UpdateSettingsFile(FSideFiles.Ini, [](TMailSettings& s, size_t) { s.SetCounter(NextCounter(s.Counter())); });
    std::unique_lock<std::mutex> hold(FRequestLock);
    if (stored.Found == TSettingsFound::NoFile) {
        WriteLog("Settings file " + FSideFiles.Ini + " not found: request left unanswered");
        WriteNotConfiguredAnswer();
        return;
    }
    if (stored.Found == TSettingsFound::NoRecord) {
        // No record was read, so no recipient was ever allowed: refused, nothing sent or counted.
        WriteLog("Settings file " + FSideFiles.Ini + " holds no record: request refused");
        WriteRefusalPage("", Allowed);
        return;
    }
    TMailRequest r;
    r.Site = site;
    r.Stored = stored.Settings;
    r.Work = stored.Settings;
    r.Altcha = std::move(altcha);
    ApplyFormOverrides(r);
    CheckRecipients(r);
    CopyToComponents(r);
    if (!r.RecipientsAllowed) {
        WriteRefusalPage(r.Stored.Get(TMailField::mailto), Allowed);
        return;
    }
    // Built only for a mail that goes out: a refused post needs no body.
    std::vector<std::string> leaveOut = SpamTokenFields(*site);
    if (site->Flag("attach_uploads")) {
        TUploadAttachments uploads = RequestUploads();
        r.Attachments.Assign(uploads.Lines);
        // the server's paths of the files are no business of the mail
        leaveOut.insert(leaveOut.end(), uploads.Fields.begin(), uploads.Fields.end());
    }
    zuordnen(r.Work.DateLine(), leaveOut);
    SendAndAnswer(r, hold);
}

}  // namespace velmora
