// The spam rules a post passes before it is counted: the site's content rules, then the hosted
// CAPTCHA token. Every refusal goes through RefuseAsSpam.
#include "CaptchaCheck.h"
#include "ContentRules.h"
#include "FieldNameSet.h"
#include "HAdaptor.h"
#include "HttpEng.h"
#include "LogText.h"
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

bool HasContentRules(const TContentRules& r) {
    return !r.Required.empty() || !r.Email.empty() || r.MaxLinks >= 0 || !r.BlockedWords.empty();
}

}  // namespace

std::vector<std::string> SpamTokenFields(const TSiteConfig& site) {
    std::vector<std::string> fields;
    if (const TCaptchaProvider* provider = CaptchaProvider(site.Text("captcha_provider")))
        fields.emplace_back(provider->TokenField);
    if (site.Text("altcha") == "required") fields.emplace_back("altcha");  // the proof, not the visitor's text
    return fields;
}

bool THauptmenue::PassesSpamRules(const TSiteConfig& site, std::unique_lock<std::mutex>& hold) {
    TContentRules rules = ContentRulesOf(site, FSideFiles.ProgramDir, WriteLog);
    if (HasContentRules(rules)) {
        TContentVerdict v = CheckContentRules(rules, PostedValues(SpamTokenFields(site)));
        if (v.Refused()) {
            hold.unlock();  // the archive may wait for its database: other threads' posts go on
            ArchiveSpam(site, FSideFiles.ProgramDir, v.Reason);
            hold.lock();
            RefuseAsSpam(SideFiles().Conf, HTTP->GetRemoteAddr(), v.Reason, v.Status, {v.Error, v.Fields});
            return false;
        }
    }
    const TCaptchaProvider* provider = CaptchaProvider(site.Text("captcha_provider"));
    if (!provider) return true;
    std::string token = AdaptGetFormField(std::string(provider->TokenField), "");
    std::string address = HTTP->GetRemoteAddr();
    std::string programDir = FSideFiles.ProgramDir;
    // The service may take seconds to answer: other threads' requests go on meanwhile.
    hold.unlock();
    TCaptchaResult result = VerifyCaptcha(site, *provider, token, address, programDir);
    hold.lock();
    if (result.Verdict == TCaptchaVerdict::Passed) return true;
    if (result.Verdict == TCaptchaVerdict::Unreachable && site.Flag("captcha_fail_open")) {
        WriteLog("CAPTCHA not verified, post let through (captcha_fail_open): " + ForLog(result.Reason, 300));
        return true;
    }
    RefuseAsSpam(SideFiles().Conf, HTTP->GetRemoteAddr(), "captcha " + result.Reason, 403);
    return false;
}

}  // namespace velmora
