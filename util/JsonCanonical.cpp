// The canonical writing of a JSON value: the sort order and string escapes of JavaScript, so the
// text matches byte for byte what a widget signed or a server library hashed.
#include "JsonCanonical.h"

#include <algorithm>
#include <string_view>
#include <utility>
#include <vector>

namespace velmora {

namespace {

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

// An integer JavaScript writes back exactly as written: no sign on zero, no fraction or exponent,
// no leading zero, and at most 15 digits (well inside 2^53, where doubles hold every integer).
bool IsPlainInteger(const std::string& t) {
    if (t.empty()) return false;
    size_t digits = t.size() - (t[0] == '-' ? 1 : 0);
    if (digits == 0 || digits > 15 || t == "-0") return false;
    std::string_view d = std::string_view(t).substr(t.size() - digits);
    return d.find_first_not_of("0123456789") == std::string_view::npos && (d[0] != '0' || d.size() == 1);
}

struct ENotPlain {};

void Write(const TJsonValue& v, std::string& out) {
    switch (v.Kind) {
        case TJsonValue::TKind::Null: out += "null"; return;
        case TJsonValue::TKind::Bool: out += v.Bool ? "true" : "false"; return;
        case TJsonValue::TKind::Number:
            if (!IsPlainInteger(v.Text)) throw ENotPlain{};
            out += v.Text;
            return;
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

std::string CanonicalJson(const TJsonValue& value) {
    std::string out;
    try {
        Write(value, out);
    } catch (const ENotPlain&) {
        return "";
    }
    return out;
}

}  // namespace velmora
