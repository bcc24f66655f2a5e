// The calling thread's connection to the site's Redis store: opened on first use, kept by a
// resident engine's threads, opened again after any error. Failures are logged once per burst.
#pragma once

#include <string>
#include <vector>

#include "RedisConnection.h"
#include "SharedStore.h"

namespace velmora {

// Runs one command within store.TimeoutMs (connecting first when needed). A Redis error reply
// counts as a failure too. Raises EStoreUnavailable, after logging the first failure of a burst.
TRedisReply StoreCommand(const TStoreSettings& store, const std::vector<std::string>& args);

}  // namespace velmora
