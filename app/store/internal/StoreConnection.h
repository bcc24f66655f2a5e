// The calling thread's connection to the site's Redis store: opened on first use, kept by a
// resident engine's threads, opened again after any error. Failures are logged once per burst.
#pragma once

#include <string>
#include <vector>

#include "RedisConnection.h"
#include "SharedStore.h"

namespace velmora {

// Runs one command before the request's store deadline (connecting first when needed). A Redis
// error reply counts as a failure too. Raises EStoreUnavailable, after logging the first failure
// of a burst.
TRedisReply StoreCommand(const TStoreSettings& store, const std::vector<std::string>& args);

// The end of the calling thread's request's time with the store: store.TimeoutMs after its first
// command, shared by all its commands (a post that counts and claims waits once, not twice).
// UseRequestStore starts a new request.
TRedisDeadline RequestStoreDeadline(const TStoreSettings& store);

}  // namespace velmora
