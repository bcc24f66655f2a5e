// Host-name look-ups that end by a deadline, for every outbound connection: a numeric address at
// once on the caller's thread, any other name on a helper thread the caller stops waiting for.
#pragma once

#include <cstdint>
#include <string>

namespace velmora {

enum class TLookupFamily { IPv4, Any };

struct THostAddress {
    bool Found = false;
    bool TimedOut = false;  // the resolver did not answer within the budget
    int Error = 0;          // a Winsock number when not found (WSAETIMEDOUT when timed out)
    std::string Why;        // why not found, in words: the resolver's own, or the time it took
    std::string Text;       // the address as numeric text ("192.0.2.7", "2001:db8::7")
    uint32_t IPv4 = 0;      // in network byte order, when the address is an IPv4 one
};

// The first address of name (an IPv4 one preferred for Any) within budgetMs. A resolver that has
// not answered by then fails the look-up with "name lookup of NAME took longer than N ms"; its
// helper thread ends by itself later. Callers asking for the same name while it runs wait for that
// one look-up; too many names waiting at once fail at once.
THostAddress LookupHost(const std::string& name, TLookupFamily family, uint64_t budgetMs);

}  // namespace velmora
