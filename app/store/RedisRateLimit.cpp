// The rate limit's window in Redis: one key per address (its network for IPv6) holding the count,
// which expires when the window ends. A short script checks and counts in one step on the
// server, so posts of several nodes at once are counted one after another.
#include <string>

#include "SharedStore.h"
#include "internal/StoreConnection.h"

namespace velmora {

namespace {

// KEYS[1] the address's window, ARGV[1] the posts allowed, ARGV[2] the window's seconds. Answers
// 0 for a counted post, else the seconds until the window ends (rounded up, at least 1). A key
// without an expiry (written by hand, say) gets the window's, so no address is barred for good.
constexpr const char* kCountScript = R"lua(
local n = tonumber(redis.call('GET', KEYS[1])) or 0
if n >= tonumber(ARGV[1]) then
  local ms = redis.call('PTTL', KEYS[1])
  if ms < 0 then
    redis.call('EXPIRE', KEYS[1], ARGV[2])
    ms = tonumber(ARGV[2]) * 1000
  end
  return math.max(1, math.floor((ms + 999) / 1000))
end
if n == 0 then
  redis.call('SET', KEYS[1], 1, 'EX', ARGV[2])
else
  redis.call('INCR', KEYS[1])
end
return 0
)lua";

}  // namespace

long RedisCountPost(const std::string& address, const TRateLimit& limit) {
    const TStoreSettings& store = RequestStore();
    std::string key = store.Prefix + "rate:" + RateLimitKey(address, limit.Ipv6Prefix);
    TRedisReply reply = StoreCommand(store, {"EVAL", kCountScript, "1", key, std::to_string(limit.Posts),
                                             std::to_string(limit.Seconds)});
    if (reply.Kind != TRedisReply::TKind::Integer) throw EStoreUnavailable("the count script gave no number");
    return static_cast<long>(reply.Integer);
}

}  // namespace velmora
