// Single-use tokens in Redis: a used token is a key set only if absent, living as long as the
// token could still be presented, so the set of used tokens never outgrows the live ones.
#include <algorithm>
#include <ctime>

#include "SharedStore.h"
#include "internal/StoreConnection.h"

namespace velmora {

namespace {

// A token's key comes from the post; whatever the caller checked before, a key this long is no
// token of ours and must not take the server's memory for its lifetime.
constexpr size_t kMaxKey = 512;
// An expiry of the far future (a signed token's own claim) is kept no longer than a year.
constexpr time_t kMaxSeconds = 366L * 86400;

}  // namespace

EClaim RedisClaimOnce(const std::string& key, time_t expiresUnix) {
    const TStoreSettings& store = RequestStore();
    if (!store.Redis) return EClaim::Unavailable;  // the request chose the files: not for this function
    if (key.empty() || key.size() > kMaxKey) return EClaim::AlreadyUsed;
    time_t seconds = std::clamp<time_t>(expiresUnix - std::time(nullptr), 1, kMaxSeconds);
    try {
        TRedisReply reply = StoreCommand(store, {"SET", store.Prefix + "used:" + key, "1", "NX", "EX", std::to_string(seconds)});
        return reply.Kind == TRedisReply::TKind::Nil ? EClaim::AlreadyUsed : EClaim::Claimed;
    } catch (const EStoreUnavailable&) {
        // Logged once per burst by the connection. A token that cannot be checked is refused
        // unless the site chose to keep its forms open whatever the store does.
        return store.ClaimsFailOpen() ? EClaim::Claimed : EClaim::Unavailable;
    }
}

}  // namespace velmora
