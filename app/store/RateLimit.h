// The site's limit on posts per client address (rate_limit = N/SECONDS), counted in a small file
// beside the settings file that every process of the site shares under a lock.
#pragma once

#include <string>

namespace velmora {

struct TRateLimit {
    long Posts = 0;    // at most this many posts ...
    long Seconds = 0;  // ... per address in a window of this length, from the address's first post in it
    int Ipv6Prefix = 64;  // IPv6 clients count together by this many leading bits (one /64 is one site)
};

// The key an address is counted under: IPv4 (also IPv4-mapped IPv6) as dotted text, IPv6 as its
// network of ipv6Prefix bits ("2001:db8::/64"), whatever spelling the web server used. Text that
// is no address is kept as hex digits, "." and ":" only ("unknown" when nothing is left).
std::string RateLimitKey(const std::string& address, int ipv6Prefix);

// "N/SECONDS" with N from 1 to 1,000,000 and SECONDS from 1 to 31 days; false when malformed.
bool ParseRateLimit(const std::string& text, TRateLimit& limit);

// Counts one post from address at now (seconds since the epoch) in the counts file, creating it
// when missing. 0 when the post may go on; else the seconds until the address may post again (the
// refused post is not counted, but the address counts as seen). The file holds at most 10,000
// addresses: a new one then replaces the one seen longest ago. Raises when the file cannot be
// read or written.
long CountPost(const std::string& countsFile, const std::string& address, const TRateLimit& limit, long long now);

}  // namespace velmora
