// The allowed list's matching. A line holds one or several entries; a recipient is compared with
// an entry as a whole address or by its exact domain, never as a piece of text: "sales@example.co"
// must not pass an entry "sales@example.com", or whoever owns the shorter domain gets the mail.
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

bool IsSeparator(char c) { return c == ',' || c == ';' || c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

// "local@domain" with both parts present and nothing but address bytes: the position of the "@",
// or npos when s is no such address.
size_t PlainAddressAt(const std::string& s) {
    const size_t at = s.find('@');
    if (at == std::string::npos || at == 0 || at + 1 >= s.size()) return std::string::npos;
    if (!AllAddressBytes(s, 0, at) || !AllAddressBytes(s, at + 1, s.size())) return std::string::npos;
    return at;
}

bool IsDomainEntry(const std::string& e) { return e.size() > 1 && e[0] == '@' && AllAddressBytes(e, 1, e.size()); }

// A bare "example.com" means "@example.com". It needs a dot between two names, so that a piece of
// an address ("info", "sales") never turns into a domain of its own.
bool IsBareDomain(const std::string& e) {
    const size_t dot = e.find('.');
    return AllAddressBytes(e, 0, e.size()) && dot != std::string::npos && dot > 0 && e.back() != '.' &&
           e.find("..") == std::string::npos;
}

}  // namespace

std::vector<std::string> AllowedListEntries(const std::string& text) {
    std::vector<std::string> entries;
    size_t start = 0;
    for (size_t i = 0; i <= text.size(); ++i) {
        if (i < text.size() && !IsSeparator(text[i])) continue;
        if (i > start) entries.push_back(text.substr(start, i - start));
        start = i + 1;
    }
    return entries;
}

bool IsAllowedListEntry(const std::string& entry) {
    return IsDomainEntry(entry) || IsBareDomain(entry) || PlainAddressAt(entry) != std::string::npos;
}

bool AllowedByEntry(const std::string& entry, const std::string& address) {
    const std::string e = LowerCase(entry);  // as split: a control byte left in it is no blank
    const std::string a = LowerCase(Trim(address));
    const size_t at = PlainAddressAt(a);
    if (at == std::string::npos) return false;
    if (IsDomainEntry(e)) return a.compare(at, std::string::npos, e) == 0;
    if (IsBareDomain(e)) return a.compare(at + 1, std::string::npos, e) == 0;
    return PlainAddressAt(e) != std::string::npos && a == e;
}

bool AllowedByLine(const std::string& line, const std::string& address) {
    for (const std::string& entry : AllowedListEntries(line))
        if (AllowedByEntry(entry, address)) return true;
    return false;
}

std::vector<std::string> EntriesAllowingNothing(const std::string& line) {
    std::vector<std::string> bad;
    for (const std::string& entry : AllowedListEntries(line))
        if (!IsAllowedListEntry(entry)) bad.push_back(entry);
    return bad;
}

}  // namespace velmora
