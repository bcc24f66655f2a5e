// velmora-ini check, the shared store: a Redis store named by `store` is reached, logged in to
// and asked PING within a few seconds, so a wrong host, port or password shows before posts do.
#include <chrono>

#include "RedisAddress.h"
#include "RedisConnection.h"
#include "SiteCheck.h"

namespace velmora {

namespace {

// Longer than a post's store_timeout_ms: the check tells "unreachable" from "slow" only roughly.
constexpr auto kStoreBudget = std::chrono::seconds(3);

bool LooksLikeLogin(const std::string& why) {
    return why.find("WRONGPASS") != std::string::npos || why.find("NOAUTH") != std::string::npos ||
           why.find("invalid password") != std::string::npos || why.find("AUTH") != std::string::npos;
}

}  // namespace

void CheckSharedStore(const std::string& store, TFindings& found) {
    if (store.empty() || store == "file") return;
    TRedisAddress address;
    std::string why;
    if (!ParseRedisAddress(store, address, why)) {
        found.push_back({"store", "store: " + why + "; rate limits and single-use tokens cannot be shared",
                         "correct store in VELMORA.CONF", {}});
        return;
    }
    const std::string name = "store redis " + address.Describe();
    TRedisConnection connection;
    TRedisReply reply;
    const auto deadline = std::chrono::steady_clock::now() + kStoreBudget;
    bool ok = connection.Open(address, deadline) && connection.Command({"PING"}, reply, deadline) &&
              reply.Kind != TRedisReply::TKind::Error;
    if (ok) return;
    std::string problem = connection.Error().empty() ? reply.Text : connection.Error();
    std::string fix = LooksLikeLogin(problem) ? "correct the password in store (the server's requirepass or ACL user)"
                                              : "start the Redis server, or correct the host and port in store";
    found.push_back({"store", name + ": " + problem +
                                  "; posts then go by store_fail_open (rate limits let through, tokens refused by default)",
                     fix, {}});
}

}  // namespace velmora
