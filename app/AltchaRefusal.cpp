// STAND-IN for RefuseAsSpam (SpamRefusal.h, written with the other spam rules): one log line
// naming the reason, never the payload, and a 403 answer; nothing is mailed or counted.
#include "AltchaRefusal.h"

#include "AnswerPages.h"
#include "HAdaptor.h"
#include "HttpEng.h"
#include "LogText.h"

namespace velmora {

void RefuseAltchaPost(const std::string& why, const std::string& clientAddress) {
    WriteLog("spam: altcha " + why + " (post from " + ForLog(clientAddress, 64) + " not mailed)");
    if (JsonAnswers()) return WriteJsonAnswer("403 Forbidden", "{\"ok\":false,\"error\":\"spam\"}");
    SetRequestStatus("403 Forbidden");
    AdaptWrite("<HTML><HEAD><TITLE>Message from Brevanto - VELMORA Error</TITLE></HEAD><BODY>");
    AdaptWrite("The form was not sent: the check that a person sent it failed. Please reload the page and try again.");
    AdaptWrite("</BODY></HTML>");
}

}  // namespace velmora
