// A recursive-descent reader bounded in depth (a hostile client's "[[[[..." cannot exhaust the
// stack) and the canonical writer; the reader keeps numbers as text so that the writer gives
// back exactly the signed digits.
#include "JsonValue.h"

#include <algorithm>

#include "JsonText.h"

namespace velmora {

namespace {

class TReader {
public:
    TReader(std::string_view text, int maxDepth) : FText(text), FMaxDepth(maxDepth) {}

    bool Whole(TJsonValue& out) {
        SkipBlanks();
        if (!Value(out, 0)) return false;
        SkipBlanks();
        return FPos == FText.size();
    }

private:
    bool Value(TJsonValue& out, int depth) {
        if (depth > FMaxDepth || FPos >= FText.size()) return false;
        char c = FText[FPos];
        if (c == '{') return Object(out, depth);
        if (c == '[') return Array(out, depth);
        if (c == '"') {
            out.Kind = TJsonValue::TKind::String;
            return String(out.Text);
        }
        if (c == '-' || (c >= '0' && c <= '9')) return Number(out);
        if (Word("null")) out.Kind = TJsonValue::TKind::Null;
        else if (Word("true")) out.Kind = TJsonValue::TKind::True;
        else if (Word("false")) out.Kind = TJsonValue::TKind::False;
        else return false;
        return true;
    }

    bool Object(TJsonValue& out, int depth) {
        out.Kind = TJsonValue::TKind::Object;
        ++FPos;
        SkipBlanks();
        if (Take('}')) return true;
        do {
            SkipBlanks();
            std::string name;
            if (!At('"') || !String(name)) return false;
            if (out.Find(name)) return false;
            SkipBlanks();
            if (!Take(':')) return false;
            SkipBlanks();
            TJsonValue member;
            if (!Value(member, depth + 1)) return false;
            out.Members.push_back({std::move(name), std::move(member)});
            SkipBlanks();
        } while (Take(','));
        return Take('}');
    }

    bool Array(TJsonValue& out, int depth) {
        out.Kind = TJsonValue::TKind::Array;
        ++FPos;
        SkipBlanks();
        if (Take(']')) return true;
        do {
            SkipBlanks();
            TJsonValue item;
            if (!Value(item, depth + 1)) return false;
            out.Items.push_back(std::move(item));
            SkipBlanks();
        } while (Take(','));
        return Take(']');
    }

    bool Number(TJsonValue& out) {
        size_t start = FPos;
        Take('-');
        if (Take('0')) {
        } else if (!Digits()) {
            return false;
        }
        if (Take('.') && !Digits()) return false;
        if (At('e') || At('E')) {
            ++FPos;
            if (!Take('+')) Take('-');
            if (!Digits()) return false;
        }
        out.Kind = TJsonValue::TKind::Number;
        out.Text = std::string(FText.substr(start, FPos - start));
        return true;
    }

    bool Digits() {
        size_t start = FPos;
        while (FPos < FText.size() && FText[FPos] >= '0' && FText[FPos] <= '9') ++FPos;
        return FPos > start;
    }

    bool String(std::string& out) {
        ++FPos;
        while (FPos < FText.size()) {
            unsigned char c = static_cast<unsigned char>(FText[FPos++]);
            if (c == '"') return IsValidUtf8(out);
            if (c < 0x20) return false;
            if (c != '\\') {
                out += static_cast<char>(c);
                continue;
            }
            if (FPos >= FText.size()) return false;
            char e = FText[FPos++];
            switch (e) {
                case '"': case '\\': case '/': out += e; break;
                case 'b': out += '\b'; break;
                case 'f': out += '\f'; break;
                case 'n': out += '\n'; break;
                case 'r': out += '\r'; break;
                case 't': out += '\t'; break;
                case 'u': if (!Escape(out)) return false; break;
                default: return false;
            }
        }
        return false;
    }

    // A \u escape, the pair of a surrogate escape included; a lone surrogate has no UTF-8.
    bool Escape(std::string& out) {
        unsigned code = 0;
        if (!Hex4(code)) return false;
        if (code >= 0xDC00 && code <= 0xDFFF) return false;
        if (code >= 0xD800 && code <= 0xDBFF) {
            unsigned low = 0;
            if (!Word("\\u") || !Hex4(low) || low < 0xDC00 || low > 0xDFFF) return false;
            code = 0x10000 + ((code - 0xD800) << 10) + (low - 0xDC00);
        }
        AppendUtf8(out, code);
        return true;
    }

    bool Hex4(unsigned& code) {
        if (FText.size() - FPos < 4) return false;
        for (int i = 0; i < 4; ++i) {
            char h = FText[FPos++];
            int v = h >= '0' && h <= '9' ? h - '0' : h >= 'a' && h <= 'f' ? h - 'a' + 10 : h >= 'A' && h <= 'F' ? h - 'A' + 10 : -1;
            if (v < 0) return false;
            code = code * 16 + static_cast<unsigned>(v);
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

    void SkipBlanks() {
        while (FPos < FText.size() && (FText[FPos] == ' ' || FText[FPos] == '\t' || FText[FPos] == '\n' || FText[FPos] == '\r'))
            ++FPos;
    }
    bool At(char c) const { return FPos < FText.size() && FText[FPos] == c; }
    bool Take(char c) {
        if (!At(c)) return false;
        ++FPos;
        return true;
    }
    bool Word(std::string_view w) {
        if (FText.substr(FPos, w.size()) != w) return false;
        FPos += w.size();
        return true;
    }

    std::string_view FText;
    size_t FPos = 0;
    int FMaxDepth;
};

// A UTF-8 name as UTF-16 code units: JavaScript's sort compares those, which orders characters
// above U+FFFF before U+E000..U+FFFF, unlike a comparison of bytes.
std::u16string Utf16(const std::string& s) {
    std::u16string out;
    for (size_t i = 0; i < s.size();) {
        unsigned char c = static_cast<unsigned char>(s[i]);
        int extra = c < 0x80 ? 0 : c < 0xE0 ? 1 : c < 0xF0 ? 2 : 3;
        unsigned code = extra == 0 ? c : c & (0x3F >> extra);
        for (int k = 1; k <= extra && i + k < s.size(); ++k) code = (code << 6) | (static_cast<unsigned char>(s[i + k]) & 0x3F);
        i += static_cast<size_t>(extra) + 1;
        if (code >= 0x10000) {
            out += static_cast<char16_t>(0xD800 + ((code - 0x10000) >> 10));
            out += static_cast<char16_t>(0xDC00 + ((code - 0x10000) & 0x3FF));
        } else {
            out += static_cast<char16_t>(code);
        }
    }
    return out;
}

// JSON.stringify's escaping: the two-letter escapes, \u00xx for other control characters,
// everything else (non-ASCII included) as it is.
void WriteString(const std::string& s, std::string& out) {
    static const char hex[] = "0123456789abcdef";
    out += '"';
    for (unsigned char c : s) {
        switch (c) {
            case '"': out += "\\\""; break;
            case '\\': out += "\\\\"; break;
            case '\b': out += "\\b"; break;
            case '\f': out += "\\f"; break;
            case '\n': out += "\\n"; break;
            case '\r': out += "\\r"; break;
            case '\t': out += "\\t"; break;
            default:
                if (c < 0x20) {
                    out += "\\u00";
                    out += hex[c >> 4];
                    out += hex[c & 15];
                } else {
                    out += static_cast<char>(c);
                }
        }
    }
    out += '"';
}

void Write(const TJsonValue& v, std::string& out) {
    switch (v.Kind) {
        case TJsonValue::TKind::Null: out += "null"; return;
        case TJsonValue::TKind::False: out += "false"; return;
        case TJsonValue::TKind::True: out += "true"; return;
        case TJsonValue::TKind::Number: out += v.Text; return;
        case TJsonValue::TKind::String: WriteString(v.Text, out); return;
        case TJsonValue::TKind::Array:
            out += '[';
            for (size_t i = 0; i < v.Items.size(); ++i) {
                if (i) out += ',';
                Write(v.Items[i], out);
            }
            out += ']';
            return;
        case TJsonValue::TKind::Object: {
            std::vector<std::pair<std::u16string, const TJsonMember*>> sorted;
            for (const auto& m : v.Members) sorted.emplace_back(Utf16(m.Name), &m);
            std::sort(sorted.begin(), sorted.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
            out += '{';
            for (size_t i = 0; i < sorted.size(); ++i) {
                if (i) out += ',';
                WriteString(sorted[i].second->Name, out);
                out += ':';
                Write(sorted[i].second->Value, out);
            }
            out += '}';
            return;
        }
    }
}

}  // namespace

const TJsonValue* TJsonValue::Find(std::string_view name) const {
    for (const auto& m : Members)
        if (m.Name == name) return &m.Value;
    return nullptr;
}

bool ParseJson(std::string_view text, TJsonValue& out, int maxDepth) {
    out = TJsonValue();
    return TReader(text, maxDepth).Whole(out);
}

std::string CanonicalJson(const TJsonValue& value) {
    std::string out;
    Write(value, out);
    return out;
}

}  // namespace velmora
