// JsonString's escaping with a UTF-8 check byte by byte, and the quality values of an Accept
// header (RFC 9110: the most specific media range that matches a type decides its quality).
#include "JsonText.h"

#include <cstdio>
#include <cstdlib>
#include <string_view>

namespace velmora {

namespace {

// Length of the valid UTF-8 sequence at s[i], or 0 (overlong forms and surrogates are invalid).
size_t Utf8Length(const std::string& s, size_t i) {
    auto b = [&](size_t k) { return static_cast<unsigned char>(s[k]); };
    unsigned char c = b(i);
    size_t n = c > 0xF4 ? 0 : c >= 0xF0 ? 4 : c >= 0xE0 ? 3 : c >= 0xC2 ? 2 : 0;
    if (n == 0 || i + n > s.size()) return 0;
    for (size_t k = 1; k < n; ++k)
        if ((b(i + k) & 0xC0) != 0x80) return 0;
    if (c == 0xE0 && b(i + 1) < 0xA0) return 0;  // overlong
    if (c == 0xED && b(i + 1) >= 0xA0) return 0;  // surrogate
    if (c == 0xF0 && b(i + 1) < 0x90) return 0;  // overlong
    if (c == 0xF4 && b(i + 1) >= 0x90) return 0;  // above U+10FFFF
    return n;
}

std::string_view Trim(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
    return s;
}

std::string Lower(std::string_view s) {
    std::string out(s);
    for (char& c : out)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return out;
}

// The quality the header gives type ("application/json") and how specifically it was matched:
// 3 by name, 2 by "type/*", 1 by "*/*", 0 not at all (quality 0).
struct TQuality {
    double Q = 0;
    int Specificity = 0;
};

TQuality QualityOf(std::string_view accept, const std::string& type) {
    TQuality best;
    std::string major = type.substr(0, type.find('/'));
    while (!accept.empty()) {
        size_t comma = accept.find(',');
        std::string_view item = accept.substr(0, comma);
        accept = comma == std::string_view::npos ? std::string_view() : accept.substr(comma + 1);
        size_t semi = item.find(';');
        std::string range = Lower(Trim(item.substr(0, semi)));
        int specificity = range == type ? 3 : range == major + "/*" ? 2 : range == "*/*" ? 1 : 0;
        if (specificity <= best.Specificity) continue;
        double q = 1;
        for (std::string_view params = semi == std::string_view::npos ? "" : item.substr(semi + 1); !params.empty();) {
            size_t next = params.find(';');
            std::string param = Lower(Trim(params.substr(0, next)));
            params = next == std::string_view::npos ? std::string_view() : params.substr(next + 1);
            if (param.rfind("q=", 0) == 0) q = std::strtod(param.c_str() + 2, nullptr);
        }
        best = {q < 0 ? 0 : q > 1 ? 1 : q, specificity};
    }
    return best;
}

}  // namespace

std::string JsonString(const std::string& s) {
    std::string out = "\"";
    for (size_t i = 0; i < s.size();) {
        auto c = static_cast<unsigned char>(s[i]);
        if (c < 0x80) {
            if (c == '"' || c == '\\') out += {'\\', static_cast<char>(c)};
            else if (c == '\n') out += "\\n";
            else if (c == '\r') out += "\\r";
            else if (c == '\t') out += "\\t";
            else if (c < 0x20 || c == 0x7F) {
                char esc[8];
                std::snprintf(esc, sizeof esc, "\\u%04x", c);
                out += esc;
            } else out += static_cast<char>(c);
            ++i;
            continue;
        }
        size_t n = Utf8Length(s, i);
        if (n > 0) {
            out.append(s, i, n);
            i += n;
            continue;
        }
        char esc[8];
        std::snprintf(esc, sizeof esc, "\\u%04x", c);
        out += esc;
        ++i;
    }
    return out + "\"";
}

bool IsValidUtf8(const std::string& s) {
    for (size_t i = 0; i < s.size();) {
        if (static_cast<unsigned char>(s[i]) < 0x80) {
            ++i;
            continue;
        }
        size_t n = Utf8Length(s, i);
        if (n == 0) return false;
        i += n;
    }
    return true;
}

bool AcceptPrefersJson(const std::string& accept) {
    TQuality json = QualityOf(accept, "application/json");
    TQuality html = QualityOf(accept, "text/html");
    if (json.Q <= 0) return false;
    return json.Q > html.Q || (json.Q == html.Q && json.Specificity == 3 && html.Specificity < 3);
}

}  // namespace velmora
