// The allowed list's matching. A recipient is compared with a line as a whole address or by its
// exact domain, never as a piece of text: "sales@example.co" must not pass a line for
// "sales@example.com", or whoever owns the shorter domain receives the site's mail.
#include "AllowedList.h"

#include "SysUtils.h"

namespace velmora {

namespace {

// Bytes that would make one text several addresses, a display name or a route; an address the
// list allows is always a single bare mailbox.
bool IsAddressByte(char c) {
    const unsigned char u = static_cast<unsigned char>(c);
    if (u <= 0x20 || u == 0x7F) return false;
    for (char bad : {',', ';', '<', '>', '"', '(', ')', '[', ']', '\\', ':', '@'})
        if (c == bad) return false;
    return true;
}

bool AllAddressBytes(const std::string& s, size_t from, size_t to) {
    for (size_t i = from; i < to; ++i)
        if (!IsAddressByte(s[i])) return false;
    return true;
}

// "local@domain" with both parts present and nothing but address bytes: the position of the "@",
// or npos when s is no such address.
size_t PlainAddressAt(const std::string& s) {
    const size_t at = s.find('@');
    if (at == std::string::npos || at == 0 || at + 1 >= s.size()) return std::string::npos;
    if (!AllAddressBytes(s, 0, at) || !AllAddressBytes(s, at + 1, s.size())) return std::string::npos;
    return at;
}

bool IsDomainLine(const std::string& line) {
    return line.size() > 1 && line[0] == '@' && AllAddressBytes(line, 1, line.size());
}

}  // namespace

bool IsAllowedListEntry(const std::string& line) {
    const std::string l = Trim(line);
    return IsDomainLine(l) || PlainAddressAt(l) != std::string::npos;
}

bool AllowedByLine(const std::string& line, const std::string& address) {
    const std::string l = LowerCase(Trim(line));
    const std::string a = LowerCase(Trim(address));
    const size_t at = PlainAddressAt(a);
    if (at == std::string::npos) return false;
    if (IsDomainLine(l)) return a.compare(at, std::string::npos, l) == 0;
    return PlainAddressAt(l) != std::string::npos && a == l;
}

}  // namespace velmora
