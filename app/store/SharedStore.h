// Where the counts that must agree across machines live: files beside the program (store = file,
// one machine) or a Redis server that every node of a site talks to. The request's thread chooses
// its store once per request (UseRequestStore); rate limits and single-use claims then ask it.
#pragma once

#include <ctime>
#include <stdexcept>
#include <string>

#include "ClaimResult.h"
#include "RateLimit.h"
#include "RedisAddress.h"
#include "SiteConfig.h"

namespace velmora {

struct TStoreSettings {
    bool Redis = false;       // false: the files beside the program
    TRedisAddress Address;
    std::string Invalid;      // why the store value was refused ("" when it was read)
    std::string Prefix;       // put in front of every key: the site's namespace
    int TimeoutMs = 200;      // for connecting and the command together
    int FailOpen = -1;        // store_fail_open: -1 unset (limits open, claims closed), 0 no, 1 yes
    std::string OutageFile;   // in the State folder while the store fails: the burst is logged once

    bool LimitsFailOpen() const noexcept { return FailOpen != 0; }
    bool ClaimsFailOpen() const noexcept { return FailOpen == 1; }
};

// The store VELMORA.CONF chooses; the default namespace is the program's folder, so two sites on
// one server never meet while the nodes of one site (same folder on each) share theirs.
TStoreSettings StoreSettings(const TSiteConfig& site, const std::string& programDir);

// The store of the calling thread's current request (set at its start).
void UseRequestStore(const TStoreSettings& store);
const TStoreSettings& RequestStore();
bool RequestStoreIsRedis();

// Raised when the store cannot be asked in time; what() names the server, never its login.
class EStoreUnavailable : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Counts one post of address in the request's Redis store: 0 when it may go on, else the seconds
// until the address may post again (the refused post is not counted). One atomic step on the
// server, so two nodes never both admit the post after the N-th. Raises EStoreUnavailable.
long RedisCountPost(const std::string& address, const TRateLimit& limit);

// Takes key for good in the request's Redis store until expiresUnix (at least a second): Claimed
// the first time, AlreadyUsed after. A store that cannot be asked gives Unavailable, or Claimed
// where store_fail_open = yes; either way it is logged.
EClaim RedisClaimOnce(const std::string& key, time_t expiresUnix);

}  // namespace velmora
