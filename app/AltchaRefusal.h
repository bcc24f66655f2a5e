// The answer to a post refused by the proof-of-work rule.
// STAND-IN until the spam rules' common refusal (RefuseAsSpam in SpamRefusal.h) is merged: the
// lead replaces the body of RefuseAltchaPost by RefuseAsSpam(form, "altcha " + why, 403).
#pragma once

#include <string>

namespace velmora {

// Logs "spam: altcha <why>" with the client's address and answers 403: the error page, or
// {"ok":false,"error":"spam"} for a script.
void RefuseAltchaPost(const std::string& why, const std::string& clientAddress);

}  // namespace velmora
