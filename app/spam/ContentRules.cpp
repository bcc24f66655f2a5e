// The content rules: what a post must hold before it is mailed. Text is compared folded (ASCII
// lower case, runs of blanks as one), so "FREE  Money" in a post meets "free money" in the list.
#include "ContentRules.h"

#include "FoldedText.h"
#include "Files.h"
#include "FormRules.h"
#include "MailHeaders.h"
#include "SysUtils.h"

namespace velmora {

namespace {

bool StartsAt(std::string_view text, size_t pos, std::string_view word) { return text.substr(pos, word.size()) == word; }

// Field names are matched as every other lookup of a field does: case ignored, so a server that
// upper-cases names (or a visitor who writes "name") meets the site's "Name".
const std::string* ValueOf(const TFormValues& form, const std::string& name) {
    const std::string wanted = UpperCase(name);
    for (const auto& [key, value] : form)
        if (UpperCase(key) == wanted) return &value;
    return nullptr;
}

std::string Joined(const std::vector<std::string>& names) {
    std::string out;
    for (const std::string& name : names) out += (out.empty() ? "" : ", ") + name;
    return out;
}

size_t CountFoldedLinks(std::string_view t) {
    size_t count = 0;
    for (size_t i = 0; i < t.size();) {
        size_t scheme = StartsAt(t, i, "http://") ? 7 : StartsAt(t, i, "https://") ? 8 : 0;
        if (scheme > 0 || StartsAt(t, i, "www.")) {
            ++count;
            i += scheme > 0 ? scheme : 4;
            if (scheme > 0 && StartsAt(t, i, "www.")) i += 4;
        } else {
            ++i;
        }
    }
    return count;
}

}  // namespace

TContentRules ContentRulesOf(const TSiteConfig& site, const std::string& programDir, const TConfLog& log) {
    TContentRules rules;
    rules.Required = WordListItems(site.Text("required_fields"));
    rules.Email = WordListItems(site.Text("email_fields"));
    if (site.IsSet("max_links")) rules.MaxLinks = site.Number("max_links");
    const std::string& file = site.Text("blocked_words_file");
    if (!file.empty()) {
        std::string path = IsAbsolutePath(file) ? file : programDir + file, why;
        rules.BlockedWords = BlockedWordsFile(path, why);
        if (!rules.BlockedWords) log("VELMORA.CONF: blocked_words_file " + path + " " + why + ": no words are blocked");
        else if (rules.BlockedWords->Empty()) rules.BlockedWords.reset();
    }
    return rules;
}

size_t CountLinks(std::string_view text) { return CountFoldedLinks(FoldedText(text)); }

std::string FindBlockedWord(std::string_view text, const std::vector<std::string>& words) {
    return TBlockedWords(words).FindIn(FoldedText(text));
}

TContentVerdict CheckContentRules(const TContentRules& rules, const TFormValues& form, const std::string& separator) {
    TContentVerdict v;
    for (const std::string& name : rules.Required) {
        const std::string* value = ValueOf(form, name);
        if (!value || Trim(*value).empty()) v.Fields.push_back(name);
    }
    if (!v.Fields.empty()) {
        v.Status = 400;
        v.Error = "required-fields";
        v.Reason = "required fields missing: " + Joined(v.Fields);
        return v;
    }
    for (const std::string& name : rules.Email) {
        const std::string* value = ValueOf(form, name);
        // The address test of Reply-To: a value that passes here is one the mail's Reply-To takes.
        if (!value || ReplyToAddress(*value).empty()) v.Fields.push_back(name);
    }
    if (!v.Fields.empty()) {
        v.Status = 400;
        v.Error = "invalid-email";
        v.Reason = "not one e-mail address: " + Joined(v.Fields);
        return v;
    }
    if (rules.MaxLinks < 0 && !rules.BlockedWords) return v;
    // The names too: the mail shows "name:value", and a name is as much a robot's text as a value.
    std::string all;
    for (const auto& [name, value] : form) all += name + separator + value + "\n";
    const std::string folded = FoldedText(all);
    if (rules.MaxLinks >= 0) {
        size_t links = CountFoldedLinks(folded);
        if (links > static_cast<size_t>(rules.MaxLinks)) {
            v.Status = 403;
            v.Error = "spam";
            v.Reason = "links " + std::to_string(links) + " > " + std::to_string(rules.MaxLinks);
            return v;
        }
    }
    std::string word = rules.BlockedWords ? rules.BlockedWords->FindIn(folded) : "";
    if (!word.empty()) {
        v.Status = 403;
        v.Error = "spam";
        v.Reason = "blocked word \"" + word + "\"";
    }
    return v;
}

}  // namespace velmora
