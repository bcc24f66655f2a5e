// Parsing VELMORA.CONF's lines against the table of declared keys, and the typed getters.
#include "SiteConfig.h"

#include <algorithm>
#include <stdexcept>
#include <vector>

#include "LogText.h"

namespace velmora {

namespace {

// A longer line is no setting anyone wrote by hand; it is reported and skipped.
constexpr size_t MaxLineLength = 4096;

std::string_view Trim(std::string_view s) {
    size_t b = s.find_first_not_of(" \t\r");
    if (b == std::string_view::npos) return {};
    size_t e = s.find_last_not_of(" \t\r");
    return s.substr(b, e - b + 1);
}

std::string Lower(std::string_view s) {
    std::string out(s);
    for (char& c : out)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return out;
}

bool InChoices(std::string_view choices, std::string_view word) {
    size_t start = 0;
    while (start <= choices.size()) {
        size_t end = choices.find('|', start);
        if (end == std::string_view::npos) end = choices.size();
        if (choices.substr(start, end - start) == word) return true;
        start = end + 1;
    }
    return false;
}

bool ParseNumber(std::string_view s, long& out) {
    if (s.empty() || s.size() > 18) return false;
    size_t i = s[0] == '-' ? 1 : 0;
    if (i == s.size()) return false;
    long v = 0;
    for (; i < s.size(); ++i) {
        if (s[i] < '0' || s[i] > '9') return false;
        v = v * 10 + (s[i] - '0');
    }
    out = s[0] == '-' ? -v : v;
    return true;
}

// The value as stored, or false with what a good value looks like.
bool Normalise(const TConfKey& key, std::string_view value, std::string& out, std::string& expected) {
    std::string lower = Lower(value);
    switch (key.Kind) {
    case TConfKind::Text:
        out = std::string(value);
        return true;
    case TConfKind::Flag:
        if (lower == "yes" || lower == "on" || lower == "true" || lower == "1") out = "yes";
        else if (lower == "no" || lower == "off" || lower == "false" || lower == "0") out = "no";
        else {
            expected = "yes or no";
            return false;
        }
        return true;
    case TConfKind::Choice:
        out = lower;
        expected = "one of " + std::string(key.Choices);
        return InChoices(key.Choices, lower);
    case TConfKind::Number: {
        long n = 0;
        out = std::string(value);
        expected = "a number from " + std::to_string(key.Min) + " to " + std::to_string(key.Max);
        return ParseNumber(value, n) && n >= key.Min && n <= key.Max;
    }
    }
    return false;
}

const TConfKey* FindKey(std::string_view name, size_t& index) {
    const auto& keys = SiteConfigKeys();
    for (index = 0; index < keys.size(); ++index)
        if (keys[index].Name == name) return &keys[index];
    return nullptr;
}

// Letters inserted, removed or changed, and neighbours swapped, to turn a into b (bounded inputs:
// a key name is short, and an unknown one is cut before it gets here).
size_t EditDistance(std::string_view a, std::string_view b) {
    if (a.size() > 64) return a.size();
    std::vector<std::vector<size_t>> d(a.size() + 1, std::vector<size_t>(b.size() + 1));
    for (size_t i = 0; i <= a.size(); ++i) d[i][0] = i;
    for (size_t j = 0; j <= b.size(); ++j) d[0][j] = j;
    for (size_t i = 1; i <= a.size(); ++i)
        for (size_t j = 1; j <= b.size(); ++j) {
            size_t cost = a[i - 1] == b[j - 1] ? 0 : 1;
            d[i][j] = std::min({d[i - 1][j] + 1, d[i][j - 1] + 1, d[i - 1][j - 1] + cost});
            if (i > 1 && j > 1 && a[i - 1] == b[j - 2] && a[i - 2] == b[j - 1]) d[i][j] = std::min(d[i][j], d[i - 2][j - 2] + 1);
        }
    return d[a.size()][b.size()];
}

// The key a line without "=" was meant for: the longest key name it starts with, else the key its
// first word is a slip of ("smtp_pasword: x"). nullptr when it names none.
const TConfKey* MeantKey(std::string_view line, std::string& word) {
    const std::string lower = Lower(line);
    const TConfKey* meant = nullptr;
    for (const TConfKey& key : SiteConfigKeys())
        if (lower.compare(0, key.Name.size(), key.Name) == 0 && (!meant || key.Name.size() > meant->Name.size())) meant = &key;
    if (meant) {
        word = std::string(meant->Name);
        return meant;
    }
    word = lower.substr(0, lower.find_first_not_of("abcdefghijklmnopqrstuvwxyz0123456789_"));
    size_t index = 0;
    return word.empty() ? nullptr : FindKey(NearestConfKey(word), index);
}

// How a line without "=" shows in a log line. One meant for a secret key ("smtp_password: Hunter2",
// a colon written for the "=") holds the secret itself: only the key's name is shown.
std::string ShownLineWithoutEquals(std::string_view line) {
    std::string word;
    const TConfKey* meant = MeantKey(line, word);
    if (meant && meant->Secret) return "line of " + word + " (the rest not shown: a secret)";
    return "\"" + ForLog(line, 80) + "\"";
}

}  // namespace

TSiteConfig::TSiteConfig() {
    for (const TConfKey& key : SiteConfigKeys()) {
        std::string value, expected;
        Normalise(key, key.Default, value, expected);
        FValues.push_back(value);
    }
    FSet.assign(FValues.size(), false);
}

std::string NearestConfKey(std::string_view name) {
    // Slips of the keyboard are a letter or two; a longer distance suggests a key nobody meant.
    const size_t most = name.size() < 6 ? 1 : 2;
    std::string best;
    size_t bestDistance = most + 1;
    for (const TConfKey& key : SiteConfigKeys()) {
        size_t d = EditDistance(name, key.Name);
        if (d < bestDistance) {
            bestDistance = d;
            best = std::string(key.Name);
        }
    }
    return best;
}

TConfProblemLog ProblemLog(const TConfLog& log) {
    if (!log) return nullptr;
    return [log](TConfProblem, const std::string& message) { log(message); };
}

TSiteConfig TSiteConfig::Parse(std::string_view text, const TConfLog& log) { return ParseReporting(text, ProblemLog(log)); }

TSiteConfig TSiteConfig::ParseReporting(std::string_view text, const TConfProblemLog& log) {
    TSiteConfig config;
    auto report = [&](size_t line, const std::string& what, TConfProblem kind) {
        if (log) log(kind, "VELMORA.CONF line " + std::to_string(line) + ": " + what);
    };
    if (text.substr(0, 3) == "\xEF\xBB\xBF") text.remove_prefix(3);  // an editor's byte-order mark
    size_t lineNo = 0;
    for (size_t pos = 0; pos < text.size();) {
        size_t end = text.find('\n', pos);
        if (end == std::string_view::npos) end = text.size();
        std::string_view raw = text.substr(pos, end - pos);
        pos = end + 1;
        ++lineNo;
        std::string_view line = Trim(raw);
        if (line.empty() || line[0] == '#') continue;
        if (raw.size() > MaxLineLength) {
            report(lineNo, "line longer than " + std::to_string(MaxLineLength) + " bytes ignored", TConfProblem::TooLong);
            continue;
        }
        size_t eq = line.find('=');
        if (eq == std::string_view::npos) {
            report(lineNo, ShownLineWithoutEquals(line) + " ignored: not key = value", TConfProblem::NotKeyValue);
            continue;
        }
        // Only the first "=" separates, so a value (a password, say) may hold more of them, and "#".
        std::string name = Lower(Trim(line.substr(0, eq)));
        std::string_view value = Trim(line.substr(eq + 1));
        size_t index = 0;
        const TConfKey* key = FindKey(name, index);
        if (!key) {
            std::string nearest = NearestConfKey(name);
            report(lineNo, "unknown key \"" + ForLog(name, 80) + "\" ignored" + (nearest.empty() ? "" : " (did you mean " + nearest + "?)"),
                   TConfProblem::UnknownKey);
            continue;
        }
        std::string stored, expected;
        if (!Normalise(*key, value, stored, expected)) {
            std::string shown = key->Secret ? std::string("(hidden)") : "\"" + ForLog(value, 80) + "\"";
            report(lineNo, "bad value " + shown + " for " + name + " ignored: " + expected, TConfProblem::BadValue);
            continue;
        }
        config.FValues[index] = std::move(stored);
        config.FSet[index] = true;
    }
    return config;
}

size_t TSiteConfig::Index(std::string_view key, TConfKind kind) const {
    size_t index = 0;
    const TConfKey* k = FindKey(key, index);
    if (!k) throw std::logic_error("VELMORA.CONF has no key " + std::string(key));
    bool textLike = kind == TConfKind::Text && k->Kind == TConfKind::Choice;
    if (k->Kind != kind && !textLike) throw std::logic_error("VELMORA.CONF key " + std::string(key) + " read as another kind");
    return index;
}

const std::string& TSiteConfig::Text(std::string_view key) const { return FValues[Index(key, TConfKind::Text)]; }

bool TSiteConfig::Flag(std::string_view key) const { return FValues[Index(key, TConfKind::Flag)] == "yes"; }

long TSiteConfig::Number(std::string_view key) const {
    long n = 0;
    ParseNumber(FValues[Index(key, TConfKind::Number)], n);
    return n;
}

bool TSiteConfig::IsSet(std::string_view key) const {
    size_t index = 0;
    if (!FindKey(key, index)) throw std::logic_error("VELMORA.CONF has no key " + std::string(key));
    return FSet[index];
}

}  // namespace velmora
