// HTML escaping of request values for the template filter (and any page writer that needs it).
// Bytes are treated as 8-bit text: only the five markup characters change, nothing is decoded.
#include "HtmlEscape.h"

namespace velmora {

namespace {

const char* Replacement(char c) noexcept {
    switch (c) {
        case '&': return "&amp;";
        case '<': return "&lt;";
        case '>': return "&gt;";
        case '"': return "&quot;";
        case '\'': return "&#39;";
        default: return nullptr;
    }
}

}  // namespace

bool NeedsHtmlEscape(std::string_view s) noexcept {
    for (char c : s)
        if (Replacement(c)) return true;
    return false;
}

std::string HtmlEscape(std::string_view s) {
    std::string out;
    out.reserve(s.size() + s.size() / 8);
    for (char c : s) {
        if (const char* r = Replacement(c)) out += r;
        else out += c;
    }
    return out;
}

}  // namespace velmora
