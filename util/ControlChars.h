// Control bytes in text that came from outside: the one rule for values that enter a single line
// (a mail header, an SMTP command, a log line), shared by the mail sender and the engine's log.
#pragma once

#include <string>

namespace velmora {

// Below 0x20, and 0x7F: bytes that could end a line or start one of the reader's own.
inline bool IsControlChar(char c) {
    auto b = static_cast<unsigned char>(c);
    return b < 0x20 || b == 0x7F;
}

// Every control character becomes a blank, so that a value can never end the line it is put in
// and start one of its own (header, command or log-line injection).
std::string BlankControlChars(std::string value);

}  // namespace velmora
