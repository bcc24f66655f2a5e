// The content rules a site sets in VELMORA.CONF for what a post must hold: required fields,
// e-mail fields, the most links, blocked words. Pure functions of the posted values, so the
// request handling and the tests call the same code.
#pragma once

#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "SiteConfig.h"

namespace velmora {

// The post's fields in the order posted, each name once with all its values.
using TFormValues = std::vector<std::pair<std::string, std::string>>;

struct TContentRules {
    std::vector<std::string> Required;  // field names that must be posted non-empty
    std::vector<std::string> Email;     // field names whose value must be one plain address
    long MaxLinks = -1;                 // -1: not counted
    std::vector<std::string> BlockedWords;  // lower case, blanks collapsed
};

// Why a post is refused, or nothing (Status 0).
struct TContentVerdict {
    int Status = 0;                   // 400 (a field a person can mend) or 403 (spam)
    std::string Reason;               // for the log, after "spam: "
    std::string Error;                // the JSON answer's error code
    std::vector<std::string> Fields;  // the fields a 400 names
    bool Refused() const noexcept { return Status != 0; }
};

// The rules of the site's keys; the blocked words file (relative names beside programDir) is
// read here, and one that cannot be read is reported through log and leaves that rule off.
TContentRules ContentRulesOf(const TSiteConfig& site, const std::string& programDir, const TConfLog& log);

// The first rule the post breaks, in the order: required, e-mail, links, blocked words.
TContentVerdict CheckContentRules(const TContentRules& rules, const TFormValues& form);

// http://, https:// and www. occurrences in text, case ignored; "https://www." counts once.
size_t CountLinks(std::string_view text);

// The first of words (lower case) found in text on word boundaries, case ignored and runs of
// blanks read as one; "" when none is.
std::string FindBlockedWord(std::string_view text, const std::vector<std::string>& words);

// The words of a blocked words file: one word or phrase a line, blank lines and lines starting
// with "#" skipped.
std::vector<std::string> BlockedWordsOf(std::string_view fileText);

}  // namespace velmora
