// The spam rules a post passes before it is counted: the site's content rules, then the hosted
// CAPTCHA token. A spam verdict goes through RefuseAsSpam; a token that could not be checked
// through RefuseUnchecked.
#include "CaptchaCheck.h"
#include "ContentRules.h"
#include "FieldNameSet.h"
#include "HAdaptor.h"
#include "HttpEng.h"
#include "LogText.h"
#include "MailSecurity.h"
#include "RequestArchive.h"
#include "SpamRefusal.h"
#include "haupt.h"

namespace velmora {

namespace {

// The post's fields the rules read: each name once, with all its values; the fields that carry
// tokens (no visitor's text) are left out.
TFormValues PostedValues(const std::vector<std::string>& leaveOut) {
    TFormValues form;
    THttpEngine* engine = CurrentEngine();
    std::unique_ptr<TStringList> names = engine ? engine->GetFormFieldNames() : nullptr;
    if (!names) return form;
    TFieldNameSet seen(leaveOut);
    for (const std::string& name : *names)
        if (seen.Insert(name)) form.emplace_back(name, AdaptGetFormField(name, ""));
    return form;
}

}  // namespace

std::vector<std::string> SpamTokenFields(const TSiteConfig& site) {
    std::vector<std::string> fields;
    if (const TCaptchaProvider* provider = CaptchaProvider(site.Text("captcha_provider")))
        fields.emplace_back(provider->TokenField);
    if (site.Text("altcha") == "required") fields.emplace_back("altcha");  // the proof, not the visitor's text
    return fields;
}

bool THauptmenue::PassesSpamRules(const TSiteConfig& site) {
    TContentRules rules = ContentRulesOf(site, FSideFiles.ProgramDir, WriteLog);
    if (rules.HasAny()) {
        // The separator the mail will put between name and value: the rules see what the mail shows.
        TContentVerdict v = CheckContentRules(rules, PostedValues(SpamTokenFields(site)), AdaptGetFormField("CHAR", ":"));
        if (v.Refused()) {
            // No lock is held here: the archive may wait for its database while other posts go on.
            ArchiveSpam(site, FSideFiles.ProgramDir, v.Reason);
            RefuseAsSpam(SideFiles().Conf, HTTP->GetRemoteAddr(), v.Reason, v.Status, {v.Error, v.Fields});
            return false;
        }
    }
    const TCaptchaProvider* provider = CaptchaProvider(site.Text("captcha_provider"));
    if (!provider) return true;
    // Before the secret leaves the server: a file others can read has given it away already.
    std::string refusal = MailSecurityRefusal(site);
    if (!refusal.empty()) {
        RefuseUnchecked(HTTP->GetRemoteAddr(), "captcha not asked: " + refusal);
        return false;
    }
    std::string token = AdaptGetFormField(std::string(provider->TokenField), "");
    TCaptchaResult result = VerifyCaptcha(site, *provider, token, HTTP->GetRemoteAddr(), FSideFiles.ProgramDir);
    if (result.Verdict == TCaptchaVerdict::Passed) return true;
    if (result.Verdict == TCaptchaVerdict::Unreachable) {
        if (site.Flag("captcha_fail_open")) {
            WriteLog("CAPTCHA not verified, post let through (captcha_fail_open): " + ForLog(result.Reason, 300));
            return true;
        }
        RefuseUnchecked(HTTP->GetRemoteAddr(), "captcha " + result.Reason);
        return false;
    }
    RefuseAsSpam(SideFiles().Conf, HTTP->GetRemoteAddr(), "captcha " + result.Reason, 403);
    return false;
}

}  // namespace velmora
