// The site's limit on posts per client address (rate_limit = N/SECONDS), counted in a small file
// beside the settings file that every process of the site shares under a lock.
#pragma once

#include <string>

namespace velmora {

struct TRateLimit {
    long Posts = 0;    // at most this many posts ...
    long Seconds = 0;  // ... per address in a window of this length, from the address's first post in it
};

// "N/SECONDS" with N from 1 to 1,000,000 and SECONDS from 1 to 31 days; false when malformed.
bool ParseRateLimit(const std::string& text, TRateLimit& limit);

// Counts one post from address at now (seconds since the epoch) in the counts file, creating it
// when missing. 0 when the post may go on; else the seconds until the address may post again (the
// refused post is not counted). The file holds at most 10,000 addresses: beyond that the ones
// whose windows began first are forgotten. Raises when the file cannot be read or written.
long CountPost(const std::string& countsFile, const std::string& address, const TRateLimit& limit, long long now);

}  // namespace velmora
