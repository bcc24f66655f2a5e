// The JSON reader: a recursive descent over the text with one position, each rule of RFC 8259's
// grammar a function. Strings are checked for UTF-8 and escapes decoded as they are read.
#include "JsonReader.h"

#include <charconv>
#include <set>

#include "JsonText.h"

namespace velmora {

namespace {

class TReader {
public:
    TReader(std::string_view text, int maxDepth) : FText(text), FMaxDepth(maxDepth) {}

    std::optional<TJsonValue> Document(std::string* why) {
        TJsonValue v;
        SkipBlanks();
        bool ok = Value(v, 0);
        SkipBlanks();
        if (ok && FPos != FText.size()) ok = Fail("text after the value");
        if (ok) return v;
        if (why) *why = FError + " at byte " + std::to_string(FPos);
        return std::nullopt;
    }

private:
    bool Fail(const char* what) {
        if (FError.empty()) FError = what;
        return false;
    }
    bool AtEnd() const { return FPos >= FText.size(); }
    char Peek() const { return AtEnd() ? '\0' : FText[FPos]; }
    void SkipBlanks() {
        while (!AtEnd() && (Peek() == ' ' || Peek() == '\t' || Peek() == '\n' || Peek() == '\r')) ++FPos;
    }
    bool Literal(std::string_view word) {
        if (FText.substr(FPos, word.size()) != word) return Fail("unknown word");
        FPos += word.size();
        return true;
    }

    bool Value(TJsonValue& v, int depth) {
        if (depth > FMaxDepth) return Fail("nested too deeply");
        switch (Peek()) {
            case '{': return Object(v, depth);
            case '[': return Array(v, depth);
            case '"': v.Kind = TJsonValue::TKind::String; return String(v.Text);
            case 't': v.Kind = TJsonValue::TKind::Bool; v.Bool = true; return Literal("true");
            case 'f': v.Kind = TJsonValue::TKind::Bool; return Literal("false");
            case 'n': return Literal("null");
            default: return Number(v);
        }
    }

    bool Object(TJsonValue& v, int depth) {
        v.Kind = TJsonValue::TKind::Object;
        ++FPos;
        SkipBlanks();
        if (Peek() == '}') return ++FPos, true;
        std::set<std::string> names;
        for (;;) {
            std::string name;
            SkipBlanks();
            if (Peek() != '"' || !String(name)) return Fail("member name expected");
            if (!names.insert(name).second) return Fail("member named twice");
            SkipBlanks();
            if (Peek() != ':') return Fail("':' expected");
            ++FPos;
            SkipBlanks();
            TJsonValue member;
            if (!Value(member, depth + 1)) return false;
            v.Members.push_back({std::move(name), std::move(member)});
            SkipBlanks();
            if (Peek() == '}') return ++FPos, true;
            if (Peek() != ',') return Fail("',' or '}' expected");
            ++FPos;
        }
    }

    bool Array(TJsonValue& v, int depth) {
        v.Kind = TJsonValue::TKind::Array;
        ++FPos;
        SkipBlanks();
        if (Peek() == ']') return ++FPos, true;
        for (;;) {
            SkipBlanks();
            TJsonValue item;
            if (!Value(item, depth + 1)) return false;
            v.Items.push_back(std::move(item));
            SkipBlanks();
            if (Peek() == ']') return ++FPos, true;
            if (Peek() != ',') return Fail("',' or ']' expected");
            ++FPos;
        }
    }

    size_t Digits() {
        size_t start = FPos;
        while (!AtEnd() && Peek() >= '0' && Peek() <= '9') ++FPos;
        return FPos - start;
    }

    // -?(0|[1-9][0-9]*)(\.[0-9]+)?([eE][+-]?[0-9]+)?
    bool Number(TJsonValue& v) {
        size_t start = FPos;
        if (Peek() == '-') ++FPos;
        if (Peek() == '0') ++FPos;
        else if (Digits() == 0) return Fail("value expected");
        if (Peek() == '.' && (++FPos, Digits() == 0)) return Fail("digits expected after '.'");
        if (Peek() == 'e' || Peek() == 'E') {
            ++FPos;
            if (Peek() == '+' || Peek() == '-') ++FPos;
            if (Digits() == 0) return Fail("digits expected in the exponent");
        }
        v.Kind = TJsonValue::TKind::Number;
        v.Text = std::string(FText.substr(start, FPos - start));
        // Out of range ("1e999") gives no value: such a number is no answer we can use.
        auto r = std::from_chars(v.Text.data(), v.Text.data() + v.Text.size(), v.Number);
        if (r.ec != std::errc()) return Fail("number out of range");
        return true;
    }

    bool Hex4(unsigned& code) {
        if (FPos + 4 > FText.size()) return Fail("short \\u escape");
        code = 0;
        for (int i = 0; i < 4; ++i) {
            char c = FText[FPos++];
            int d = c >= '0' && c <= '9' ? c - '0' : c >= 'a' && c <= 'f' ? c - 'a' + 10 : c >= 'A' && c <= 'F' ? c - 'A' + 10 : -1;
            if (d < 0) return Fail("bad \\u escape");
            code = code * 16 + static_cast<unsigned>(d);
        }
        return true;
    }

    static void AppendUtf8(std::string& out, unsigned code) {
        if (code < 0x80) {
            out += static_cast<char>(code);
        } else if (code < 0x800) {
            out += static_cast<char>(0xC0 | (code >> 6));
            out += static_cast<char>(0x80 | (code & 0x3F));
        } else if (code < 0x10000) {
            out += static_cast<char>(0xE0 | (code >> 12));
            out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (code & 0x3F));
        } else {
            out += static_cast<char>(0xF0 | (code >> 18));
            out += static_cast<char>(0x80 | ((code >> 12) & 0x3F));
            out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (code & 0x3F));
        }
    }

    bool Escape(std::string& out) {
        char c = Peek();
        ++FPos;
        switch (c) {
            case '"': case '\\': case '/': out += c; return true;
            case 'b': out += '\b'; return true;
            case 'f': out += '\f'; return true;
            case 'n': out += '\n'; return true;
            case 'r': out += '\r'; return true;
            case 't': out += '\t'; return true;
            case 'u': break;
            default: return Fail("bad escape");
        }
        unsigned code = 0;
        if (!Hex4(code)) return false;
        if (code >= 0xDC00 && code <= 0xDFFF) return Fail("unpaired surrogate");
        if (code >= 0xD800 && code <= 0xDBFF) {
            unsigned low = 0;
            if (FText.substr(FPos, 2) != "\\u") return Fail("unpaired surrogate");
            FPos += 2;
            if (!Hex4(low)) return false;
            if (low < 0xDC00 || low > 0xDFFF) return Fail("unpaired surrogate");
            code = 0x10000 + ((code - 0xD800) << 10) + (low - 0xDC00);
        }
        AppendUtf8(out, code);
        return true;
    }

    bool String(std::string& out) {
        ++FPos;  // the opening quote
        size_t run = FPos;  // start of the bytes copied as they are
        for (;;) {
            if (AtEnd()) return Fail("unterminated string");
            auto c = static_cast<unsigned char>(Peek());
            if (c < 0x20) return Fail("control character in a string");
            if (c != '"' && c != '\\') {
                ++FPos;
                continue;
            }
            std::string raw(FText.substr(run, FPos - run));
            if (!IsValidUtf8(raw)) return Fail("string is not UTF-8");
            out += raw;
            ++FPos;
            if (c == '"') return true;
            if (!Escape(out)) return false;
            run = FPos;
        }
    }

    std::string_view FText;
    size_t FPos = 0;
    std::string FError;
    int FMaxDepth;
};

}  // namespace

const TJsonValue* TJsonValue::Member(std::string_view name) const {
    for (const auto& [key, value] : Members)
        if (key == name) return &value;
    return nullptr;
}

std::optional<TJsonValue> ParseJson(std::string_view text, std::string* why, int maxDepth) {
    return TReader(text, maxDepth).Document(why);
}

}  // namespace velmora
