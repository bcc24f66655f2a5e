// The allowed list's rule: which recipient a line of VELMORA.ALL allows. The main window asks it
// for every recipient a form names, and once at start-up for the entries that allow nothing.
#pragma once

#include <string>
#include <vector>

namespace velmora {

// The entries of a list line, or the recipients of a posted value: the pieces between blanks,
// commas and semicolons.
std::vector<std::string> AllowedListEntries(const std::string& text);

// An entry that is one whole address allows exactly that address; "@domain" or a bare
// "domain.tld" allows every address at exactly that domain. Letters compare without regard to
// case. Any other entry allows nothing.
bool AllowedByEntry(const std::string& entry, const std::string& address);

// Whether one of the line's entries allows the address.
bool AllowedByLine(const std::string& line, const std::string& address);

// Whether the entry is one of the kinds above (else it can never allow a recipient).
bool IsAllowedListEntry(const std::string& entry);

// The line's entries that are none of those kinds, to be said once where the list is read.
std::vector<std::string> EntriesAllowingNothing(const std::string& line);

}  // namespace velmora
