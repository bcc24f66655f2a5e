// The content rules a site sets in VELMORA.CONF for what a post must hold: required fields,
// e-mail fields, the most links, blocked words. Pure functions of the posted values, so the
// request handling and the tests call the same code.
#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "BlockedWords.h"
#include "BlockedWordsFile.h"
#include "SiteConfig.h"

namespace velmora {

// The post's fields in the order posted, each name once with all its values.
using TFormValues = std::vector<std::pair<std::string, std::string>>;

struct TContentRules {
    std::vector<std::string> Required;  // field names (case ignored) that must be posted non-empty
    std::vector<std::string> Email;     // field names (case ignored) whose value must be one plain address
    long MaxLinks = -1;                 // -1: not counted
    std::shared_ptr<const TBlockedWords> BlockedWords;  // null: none
    bool HasAny() const noexcept { return !Required.empty() || !Email.empty() || MaxLinks >= 0 || BlockedWords; }
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
// taken from its cache, and one that cannot be read is reported through log and leaves that rule off.
TContentRules ContentRulesOf(const TSiteConfig& site, const std::string& programDir, const TConfLog& log);

// The first rule the post breaks, in the order: required, e-mail, links, blocked words. Links and
// blocked words are looked for in each field as the mail shows it: name, separator, value. The
// cost is linear in the post's size.
TContentVerdict CheckContentRules(const TContentRules& rules, const TFormValues& form, const std::string& separator = ":");

// http://, https:// and www. occurrences in text, case ignored; "https://www." counts once.
size_t CountLinks(std::string_view text);

// The first of words (folded) found in text on word boundaries, case ignored and runs of blanks
// read as one; "" when none is.
std::string FindBlockedWord(std::string_view text, const std::vector<std::string>& words);

}  // namespace velmora
