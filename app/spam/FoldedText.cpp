// The folding of the content rules' text. Invisible spaces count as blanks so that a word split
// or padded by them still meets the list, as a reader of the mail sees it.
#include "FoldedText.h"

namespace velmora {

namespace {

// The length of the UTF-8 invisible space at the start of s, or 0.
size_t InvisibleSpace(std::string_view s) {
    if (s.size() >= 2 && s[0] == '\xC2' && s[1] == '\xA0') return 2;  // U+00A0
    if (s.size() >= 3 && s[0] == '\xE2' && s[1] == '\x80' && (s[2] == '\x8B' || s[2] == '\x8C' || s[2] == '\x8D'))
        return 3;  // U+200B, U+200C, U+200D
    if (s.size() >= 3 && s[0] == '\xEF' && s[1] == '\xBB' && s[2] == '\xBF') return 3;  // U+FEFF
    return 0;
}

bool IsControl(char c) { return static_cast<unsigned char>(c) < 0x20 || c == '\x7F'; }

}  // namespace

std::string FoldedText(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size();) {
        size_t blank = text[i] == ' ' || IsControl(text[i]) ? 1 : InvisibleSpace(text.substr(i));
        if (blank > 0) {
            if (!out.empty() && out.back() != ' ') out += ' ';
            i += blank;
            continue;
        }
        char c = text[i++];
        out += c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
    }
    if (!out.empty() && out.back() == ' ') out.pop_back();
    return out;
}

}  // namespace velmora
