// HTML escaping of request values for the template filter (and any page writer that needs it).
// Bytes are treated as 8-bit text: only the five markup characters change, nothing is decoded.
#include "HtmlEscape.h"

namespace velmora {

namespace {

// One flag per byte value. Every value of every answer page passes through NeedsHtmlEscape,
// which ORs the flags without branching: digits and letters alternate unpredictably in values.
struct TSpecialBytes {
    bool Flag[256] = {};
    constexpr TSpecialBytes() {
        for (unsigned char c : {'&', '<', '>', '"', '\''}) Flag[c] = true;
    }
};
constexpr TSpecialBytes Special;

bool IsSpecial(char c) noexcept { return Special.Flag[static_cast<unsigned char>(c)]; }

std::string_view Replacement(char c) noexcept {
    switch (c) {
        case '&': return "&amp;";
        case '<': return "&lt;";
        case '>': return "&gt;";
        case '"': return "&quot;";
        default: return "&#39;";
    }
}

}  // namespace

bool NeedsHtmlEscape(std::string_view s) noexcept {
    bool any = false;
    for (char c : s) any |= IsSpecial(c);
    return any;
}

std::string HtmlEscape(std::string_view s) {
    std::string out;
    out.reserve(s.size() + s.size() / 8);
    for (char c : s) {
        if (IsSpecial(c)) out += Replacement(c);
        else out += c;
    }
    return out;
}

}  // namespace velmora
