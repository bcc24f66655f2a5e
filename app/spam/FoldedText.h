// The form of text the content rules compare: ASCII lower case, every run of blanks one space.
// The blocked words, the links count and the post's text are all folded alike.
#pragma once

#include <string>
#include <string_view>

namespace velmora {

// Letters and digits of any script: a byte above 127 belongs to a word, so "café" does not end
// before its "é".
inline bool IsWordByte(char c) {
    auto u = static_cast<unsigned char>(c);
    return u >= 0x80 || (u >= '0' && u <= '9') || (u >= 'a' && u <= 'z') || (u >= 'A' && u <= 'Z') || c == '_';
}

// text folded: A-Z lowered; blanks collapsed to one space and trimmed. Blanks are ASCII space, every
// control byte (tab, line breaks, vertical tab, form feed, NUL, ...), and the invisible UTF-8 spaces
// a sender may slip between letters: NBSP (U+00A0), U+200B to U+200D and U+FEFF.
std::string FoldedText(std::string_view text);

}  // namespace velmora
