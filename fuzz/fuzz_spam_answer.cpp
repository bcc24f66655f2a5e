// Fuzz target for the text a hostile peer hands the spam rules. The JSON reader: a document it
// takes is written out again and read to the same tree, its strings always UTF-8. The HTTP
// answer reader: the same verdict and body whatever the bytes' cut, never a body above its limit.
// The content rules: link counts, and the blocked-word automaton finding a word exactly when the
// plain search of each word alone finds one.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "BlockedWords.h"
#include "ContentRules.h"
#include "FoldedText.h"
#include "HttpResponse.h"
#include "JsonReader.h"
#include "JsonText.h"

using namespace velmora;

namespace {

void Check(bool ok) {
    if (!ok) std::abort();
}

std::string Written(const TJsonValue& v) {
    switch (v.Kind) {
        case TJsonValue::TKind::Null: return "null";
        case TJsonValue::TKind::Bool: return v.Bool ? "true" : "false";
        case TJsonValue::TKind::Number: return v.Text;
        case TJsonValue::TKind::String: Check(IsValidUtf8(v.Text)); return JsonString(v.Text);
        case TJsonValue::TKind::Array: {
            std::string out = "[";
            for (const TJsonValue& item : v.Items) out += (out.size() > 1 ? "," : "") + Written(item);
            return out + "]";
        }
        case TJsonValue::TKind::Object: {
            std::string out = "{";
            for (const auto& [name, member] : v.Members) out += (out.size() > 1 ? "," : "") + JsonString(name) + ":" + Written(member);
            return out + "}";
        }
    }
    return "";
}

void CheckJson(const std::string& in) {
    auto v = ParseJson(in);
    if (!v) return;
    std::string out = Written(*v);
    auto again = ParseJson(out);
    Check(again.has_value());
    Check(Written(*again) == out);
}

struct TRead {
    bool Done, Failed;
    int Status;
    std::string Body;
};

TRead ReadAnswer(const std::string& in, size_t cut) {
    THttpResponseReader r(1024);
    r.Feed(std::string_view(in).substr(0, cut));
    r.Feed(std::string_view(in).substr(cut));
    r.End();
    Check(r.Done() != r.Failed());
    Check(r.Body().size() <= 1024);
    return {r.Done(), r.Failed(), r.Status(), r.Body()};
}

void CheckAnswer(const std::string& in, uint8_t cutByte) {
    TRead whole = ReadAnswer(in, in.size());
    TRead cut = ReadAnswer(in, in.empty() ? 0 : cutByte % (in.size() + 1));
    Check(whole.Done == cut.Done);
    if (whole.Done) Check(whole.Status == cut.Status && whole.Body == cut.Body);
}

// The plain search the automaton replaces: each word looked for alone, boundaries tested by hand.
bool FoundAlone(const std::string& folded, const std::string& word) {
    for (size_t pos = folded.find(word); !word.empty() && pos != std::string::npos; pos = folded.find(word, pos + 1)) {
        size_t end = pos + word.size();
        bool before = !IsWordByte(word.front()) || pos == 0 || !IsWordByte(folded[pos - 1]);
        bool after = !IsWordByte(word.back()) || end == folded.size() || !IsWordByte(folded[end]);
        if (before && after) return true;
    }
    return false;
}

// The words file is the input up to the first blank line (many words), the post the rest.
void CheckRules(const std::string& in) {
    Check(CountLinks(in) <= in.size() / 4);
    const size_t split = in.find("\n\n");
    if (split == std::string::npos) return;
    std::vector<std::string> words = BlockedWordsOf(in.substr(0, split));
    const std::string folded = FoldedText(in.substr(split + 2));
    std::string found = TBlockedWords(words).FindIn(folded);
    bool any = false;
    for (const std::string& w : words) any = any || FoundAlone(folded, w);
    Check(found.empty() != any);
    if (!found.empty()) Check(FoundAlone(folded, found));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    std::string in(reinterpret_cast<const char*>(data) + 1, size - 1);
    CheckJson(in);
    CheckAnswer(in, data[0]);
    CheckRules(in);
    return 0;
}
