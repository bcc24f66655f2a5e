// The allowed list's rule: which recipient a line of VELMORA.ALL allows. The main window asks it
// for every recipient a form names, and once at start-up for the lines that allow nothing.
#pragma once

#include <string>

namespace velmora {

// A line that holds one whole address allows exactly that address; a line "@domain" allows every
// address at exactly that domain. Letters compare without regard to case and blanks around the
// line and the address are ignored. Any other line allows nothing.
bool AllowedByLine(const std::string& line, const std::string& address);

// Whether the line is one of the two kinds above (else it can never allow a recipient).
bool IsAllowedListEntry(const std::string& line);

}  // namespace velmora
