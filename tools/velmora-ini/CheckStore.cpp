// velmora-ini check, the shared store: a Redis store named by `store` is reached, logged in to
// and asked PING within a few seconds, so a wrong host, port or password shows before posts do.
#include <chrono>

#include "RedisConnection.h"
#include "SharedStore.h"
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

void CheckSharedStore(const TSite& site, TFindings& found) {
    // Read as a post reads it, so that check and velmora agree on which values name a Redis store.
    const TStoreSettings store = StoreSettings(site.Conf, site.Dir);
    if (!store.Redis) return;
    if (!store.Invalid.empty()) {
        found.push_back({"store", store.Invalid + "; rate limits and single-use tokens cannot be shared",
                         "correct store in VELMORA.CONF", {}});
        return;
    }
    const TRedisAddress& address = store.Address;
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
