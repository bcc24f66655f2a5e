// The proof-of-work rule on the request path: the challenge answered at "?altcha" (before any
// other rule, so post_only and the rate limit never stand between the widget and its challenge)
// and the check of a post's "altcha" field before the post is counted; its solution is spent only
// when the post is about to be mailed.
#include <ctime>

#include "AltchaCheck.h"
#include "AnswerPages.h"
#include "HAdaptor.h"
#include "HttpEng.h"
#include "MailSecurity.h"
#include "ReplayStore.h"
#include "SharedStore.h"
#include "SpamRefusal.h"
#include "StateFolder.h"
#include "SysUtils.h"
#include "haupt.h"

namespace velmora {

namespace {

TAltchaSettings AltchaSettings(const TSiteConfig& site) {
    TAltchaSettings s;
    s.HmacKey = site.Text("altcha_hmac_key");
    s.Cost = static_cast<unsigned>(site.Number("altcha_cost"));
    s.PrefixDigits = static_cast<unsigned>(site.Number("altcha_key_prefix_length"));
    s.ExpiresSeconds = site.Number("altcha_expires_seconds");
    s.MinFillSeconds = site.Number("min_fill_seconds");
    return s;
}

// Why the site's settings cannot sign or check challenges; "" when they can.
std::string SettingsFault(const TSiteConfig& site) {
    std::string refusal = MailSecurityRefusal(site);
    if (!refusal.empty()) return refusal;
    size_t key = site.Text("altcha_hmac_key").size();
    if (key == 0) return "altcha = required, but VELMORA.CONF sets no altcha_hmac_key";
    if (key < kMinAltchaKeyLength)
        return "altcha_hmac_key is shorter than " + std::to_string(kMinAltchaKeyLength) + " characters";
    return "";
}

bool AltchaRequired(const TSiteConfig& site) { return site.Text("altcha") == "required"; }

}  // namespace

bool THauptmenue::ServedAltchaChallenge(const TSiteConfig& site) {
    if (!AltchaRequired(site) || AdaptGetQueryString() != "altcha" || UpperCase(HTTP->GetRequestMethod()) != "GET")
        return false;
    // A challenge is good only once and only for a while: no cache may hand it to a second visitor.
    AddRequestHeader("Cache-Control", "no-store");
    std::string fault = SettingsFault(site);
    if (!fault.empty()) {
        WriteLog("No altcha challenge issued: " + fault);
        WriteJsonAnswer("503 Service Unavailable", "{\"ok\":false,\"error\":\"altcha-unavailable\"}");
        return true;
    }
    WriteJsonAnswer("", IssueAltchaChallenge(AltchaSettings(site), std::time(nullptr)));
    return true;
}

bool THauptmenue::PassesAltcha(const TSiteConfig& site, TAltchaSolution& solution) {
    if (!AltchaRequired(site)) return true;
    std::string fault = SettingsFault(site);
    if (!fault.empty()) {
        // The site's fault, not the visitor's: no verdict on the post.
        RefuseUnchecked(HTTP->GetRemoteAddr(), "altcha (" + fault + ")");
        return false;
    }
    solution = CheckAltchaSolution(AltchaSettings(site), AdaptGetFormField("altcha", ""), std::time(nullptr));
    if (solution.Fault.empty()) return true;
    if (solution.WaitSeconds > 0) RefuseTooFast(HTTP->GetRemoteAddr(), "altcha " + solution.Fault, solution.WaitSeconds);
    else RefuseAsSpam(SideFiles().Conf, HTTP->GetRemoteAddr(), "altcha " + solution.Fault, 403);
    return false;
}

bool THauptmenue::ClaimSolution(const TMailRequest& r) {
    if (r.Altcha.Key.empty()) return true;
    switch (ClaimOnce(r.Altcha.Key, static_cast<time_t>(r.Altcha.ExpiresUnix))) {
        case EClaim::Claimed: return true;
        case EClaim::AlreadyUsed: RefuseAsSpam(SideFiles().Conf, HTTP->GetRemoteAddr(), "altcha replayed", 403); return false;
        case EClaim::Unavailable: break;
    }
    // The site's own file of used solutions is named, so the owner finds what to give the server's account.
    std::string where = RequestStoreIsRedis() ? "" : " in " + StateFolder(FSideFiles.ProgramDir) + "VELMORA.USED";
    RefuseUnchecked(HTTP->GetRemoteAddr(), "altcha (the record of used challenges cannot be kept" + where + ")");
    return false;
}

}  // namespace velmora
