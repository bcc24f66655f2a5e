// The content rules: what a post must hold before it is mailed. Text is compared in ASCII lower
// case with runs of blanks as one, so "FREE  Money" in a post meets "free money" in the list.
#include "ContentRules.h"

#include <fstream>
#include <sstream>

#include "Files.h"
#include "FormRules.h"
#include "MailHeaders.h"
#include "SysUtils.h"

namespace velmora {

namespace {

// The blocked words file is the site's own, yet a huge one would be read by every post.
constexpr size_t kMaxWordsFile = 1 << 20;

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

// Letters and digits of any script: a byte above 127 belongs to a word, so "café" does not end
// before its "é".
bool IsWordByte(char c) {
    auto u = static_cast<unsigned char>(c);
    return u >= 0x80 || (u >= '0' && u <= '9') || (u >= 'a' && u <= 'z') || (u >= 'A' && u <= 'Z') || c == '_';
}

std::string Folded(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (char c : text) {
        if (IsBlank(c)) {
            if (!out.empty() && out.back() != ' ') out += ' ';
            continue;
        }
        out += c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
    }
    if (!out.empty() && out.back() == ' ') out.pop_back();
    return out;
}

bool StartsAt(std::string_view text, size_t pos, std::string_view word) { return text.substr(pos, word.size()) == word; }

std::string ReadWordsFile(const std::string& path, std::string& why) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        why = "cannot be opened";
        return "";
    }
    // Read in blocks as big as the file needs: a buffer of the whole limit would cost every post
    // its page faults.
    std::string text;
    char block[8192];
    while (in.read(block, sizeof block) || in.gcount() > 0) {
        text.append(block, static_cast<size_t>(in.gcount()));
        if (text.size() > kMaxWordsFile) {
            why = "is larger than 1 MiB";
            return "";
        }
    }
    return text;
}

const std::string* ValueOf(const TFormValues& form, const std::string& name) {
    for (const auto& [key, value] : form)
        if (key == name) return &value;
    return nullptr;
}

std::string Joined(const std::vector<std::string>& names) {
    std::string out;
    for (const std::string& name : names) out += (out.empty() ? "" : ", ") + name;
    return out;
}

}  // namespace

std::vector<std::string> BlockedWordsOf(std::string_view fileText) {
    std::vector<std::string> words;
    std::istringstream lines{std::string(fileText)};
    for (std::string line; std::getline(lines, line);) {
        std::string word = Folded(line);
        if (!word.empty() && word[0] != '#') words.push_back(word);
    }
    return words;
}

TContentRules ContentRulesOf(const TSiteConfig& site, const std::string& programDir, const TConfLog& log) {
    TContentRules rules;
    rules.Required = WordListItems(site.Text("required_fields"));
    rules.Email = WordListItems(site.Text("email_fields"));
    if (site.IsSet("max_links")) rules.MaxLinks = site.Number("max_links");
    const std::string& file = site.Text("blocked_words_file");
    if (!file.empty()) {
        std::string path = IsAbsolutePath(file) ? file : programDir + file, why;
        std::string text = ReadWordsFile(path, why);
        if (why.empty()) rules.BlockedWords = BlockedWordsOf(text);
        else log("VELMORA.CONF: blocked_words_file " + path + " " + why + ": no words are blocked");
    }
    return rules;
}

size_t CountLinks(std::string_view text) {
    std::string folded = Folded(text);
    std::string_view t = folded;
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

std::string FindBlockedWord(std::string_view text, const std::vector<std::string>& words) {
    std::string folded = Folded(text);
    for (const std::string& word : words) {
        if (word.empty()) continue;
        // Edges that are no word characters ("$$$") need no boundary around them.
        bool needBefore = IsWordByte(word.front()), needAfter = IsWordByte(word.back());
        for (size_t pos = folded.find(word); pos != std::string::npos; pos = folded.find(word, pos + 1)) {
            size_t end = pos + word.size();
            bool before = !needBefore || pos == 0 || !IsWordByte(folded[pos - 1]);
            bool after = !needAfter || end == folded.size() || !IsWordByte(folded[end]);
            if (before && after) return word;
        }
    }
    return "";
}

TContentVerdict CheckContentRules(const TContentRules& rules, const TFormValues& form) {
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
    if (rules.MaxLinks < 0 && rules.BlockedWords.empty()) return v;
    std::string all;
    for (const auto& [name, value] : form) all += value + "\n";
    if (rules.MaxLinks >= 0) {
        size_t links = CountLinks(all);
        if (links > static_cast<size_t>(rules.MaxLinks)) {
            v.Status = 403;
            v.Error = "spam";
            v.Reason = "links " + std::to_string(links) + " > " + std::to_string(rules.MaxLinks);
            return v;
        }
    }
    std::string word = FindBlockedWord(all, rules.BlockedWords);
    if (!word.empty()) {
        v.Status = 403;
        v.Error = "spam";
        v.Reason = "blocked word \"" + word + "\"";
    }
    return v;
}

}  // namespace velmora
