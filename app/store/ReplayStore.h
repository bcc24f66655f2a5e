// The single-use record of solved proof-of-work challenges: a solved challenge is accepted once.
// Kept in a small file beside the settings file (VELMORA.USED) that every process of the site
// shares under its lock, until each entry's challenge expires.
#pragma once

#include <cstdint>
#include <ctime>
#include <string>

#include "ClaimResult.h"

namespace velmora {

// Claims key (a challenge's signature) until expiresUnix: Claimed the first time, AlreadyUsed
// while an earlier claim holds, Unavailable when the record cannot be read or written. The
// site's record is VELMORA.USED in the program's folder, or the shared store of store = redis://.
EClaim ClaimOnce(const std::string& key, time_t expiresUnix);

// The same in the record file at path, at now. Expired entries are pruned; the file holds at most
// kMaxReplayEntries: a new claim then drops the entry closest to its expiry.
constexpr size_t kMaxReplayEntries = 20000;
EClaim ClaimOnceInFile(const std::string& path, const std::string& key, int64_t expiresUnix, int64_t now);

// Gives a claim back: its post was not mailed (the relay failed, say), so the visitor may send the
// same solution again. Best effort: a record that cannot be changed keeps the claim.
void ReleaseClaim(const std::string& key);
void ReleaseClaimInFile(const std::string& path, const std::string& key);

}  // namespace velmora
