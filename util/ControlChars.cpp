// BlankControlChars: the single-line form of outside text; see ControlChars.h.
// The sender's header and command text and every log line pass through it.
#include "ControlChars.h"

namespace velmora {

std::string BlankControlChars(std::string value) {
    for (char& c : value)
        if (IsControlChar(c)) c = ' ';
    return value;
}

}  // namespace velmora
