// RefuseAsSpam: the one way a post that breaks one of the site's spam rules is turned away, so
// every such refusal is logged alike and answered as the site's spam_answer says.
#pragma once

#include <string>
#include <vector>

namespace velmora {

// What a 400 refusal tells the visitor: the JSON error code and the fields to mend.
struct TSpamFields {
    std::string Error;                // "required-fields", "invalid-email"
    std::vector<std::string> Names;
};

// Refuses the post for the named rule: logs "spam: <reason>" with the client's address, answers as
// the spam_answer of the site file conf says.
// status is 403 (spam) or 400 (fields a person can mend, named by fields). With spam_answer =
// thanks such a refusal gets the plain thank-you answer instead, so a robot learns nothing.
void RefuseAsSpam(const std::string& conf, const std::string& remoteAddr, const std::string& reason, int status,
                  const TSpamFields& fields = {});

// Refuses a post that could not be checked (a store or service out of reach, the site's keys
// missing or readable by others): no verdict on the post, so a visitor is never thanked for a
// dropped message. Logs "not checked: <reason>" and answers 503 ("unavailable").
void RefuseUnchecked(const std::string& remoteAddr, const std::string& reason);

// A post sent sooner than min_fill_seconds after its challenge: a person with an autofilled form
// is asked to wait waitSeconds and send the same form again (its solution stays unspent).
void RefuseTooFast(const std::string& remoteAddr, const std::string& reason, long waitSeconds);

}  // namespace velmora
