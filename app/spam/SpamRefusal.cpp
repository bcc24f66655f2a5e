// The spam refusal: one log line naming the rule (and the visitor's address), then either the
// refusal page (JSON for scripts) or, with spam_answer = thanks, the thank-you answer. A post that
// could not be checked, or was only sent too soon, is answered so that a person can act on it.
#include "SpamRefusal.h"

#include "AnswerPages.h"
#include "HttpEng.h"
#include "LogText.h"
#include "SiteConfig.h"

namespace velmora {

void RefuseAsSpam(const std::string& conf, const std::string& remoteAddr, const std::string& reason, int status,
                  const TSpamFields& fields) {
    // The cached reading of this request's VELMORA.CONF: one stat.
    std::shared_ptr<const TSiteConfig> site = LoadSiteConfig(conf, WriteLog);
    WriteLog("spam: " + ForLog(reason, 300) + " (post from " + ForLog(remoteAddr, 64) + ", not mailed)");
    if (site->Text("spam_answer") == "thanks") {
        WriteThankYouPage();
        return;
    }
    WriteSpamRefusalPage(status, fields.Error, fields.Names);
}

void RefuseUnchecked(const std::string& remoteAddr, const std::string& reason) {
    WriteLog("not checked: " + ForLog(reason, 300) + " (post from " + ForLog(remoteAddr, 64) + ", not mailed)");
    WriteUnavailablePage();
}

void RefuseTooFast(const std::string& remoteAddr, const std::string& reason, long waitSeconds) {
    WriteLog("spam: " + ForLog(reason, 300) + " (post from " + ForLog(remoteAddr, 64) + ", not mailed, asked to wait)");
    WriteTooFastPage(waitSeconds);
}

}  // namespace velmora
