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
// thanks every refusal gets the plain thank-you answer instead, so a robot learns nothing.
void RefuseAsSpam(const std::string& conf, const std::string& remoteAddr, const std::string& reason, int status,
                  const TSpamFields& fields = {});

}  // namespace velmora
