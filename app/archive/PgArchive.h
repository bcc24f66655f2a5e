// The archive in a PostgreSQL database that every node of a site writes: libpq loaded on first
// use, the tables made when missing, one round trip per post on the thread's own connection.
#pragma once

#include <memory>

#include "ArchiveStore.h"

namespace velmora {

// Throws TArchiveError (libpq missing, the server down, the login refused).
std::unique_ptr<TArchiveStore> OpenPgArchive(const TArchiveSettings& settings);

}  // namespace velmora
