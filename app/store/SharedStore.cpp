// Reading the store options of VELMORA.CONF, and the request's choice of store, kept per thread
// like the rest of the request's state.
#include "SharedStore.h"

#include <optional>

#include "StateFolder.h"
#include "SysUtils.h"
#include "internal/StoreConnection.h"

namespace velmora {

namespace {

thread_local TStoreSettings tRequestStore;
// When the request's store commands must all be done: set by its first command.
thread_local std::optional<TRedisDeadline> tRequestDeadline;

}  // namespace

TStoreSettings StoreSettings(const TSiteConfig& site, const std::string& programDir) {
    TStoreSettings s;
    const std::string& value = site.Text("store");
    s.TimeoutMs = static_cast<int>(site.Number("store_timeout_ms"));
    if (site.IsSet("store_fail_open")) s.FailOpen = site.Flag("store_fail_open") ? 1 : 0;
    if (LowerCase(value) == "file") return s;
    s.Redis = true;
    std::string why;
    // A value that asks for a shared store but cannot be read is a store that cannot be asked:
    // falling back to the node's own files would quietly multiply the site's limits.
    if (!ParseRedisAddress(value, s.Address, why)) s.Invalid = "store is not a Redis address: " + why;
    const std::string& prefix = site.Text("store_prefix");
    s.Prefix = prefix.empty() ? "velmora:" + programDir : prefix;
    s.OutageFile = StateFolder(programDir) + "VELMORA.STOREDOWN";
    return s;
}

void UseRequestStore(const TStoreSettings& store) {
    tRequestStore = store;
    tRequestDeadline.reset();
}

TRedisDeadline RequestStoreDeadline(const TStoreSettings& store) {
    if (!tRequestDeadline) tRequestDeadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(store.TimeoutMs);
    return *tRequestDeadline;
}

const TStoreSettings& RequestStore() { return tRequestStore; }

bool RequestStoreIsRedis() { return tRequestStore.Redis; }

}  // namespace velmora
