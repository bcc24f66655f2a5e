// The archive in one SQLite file beside the program: WAL with full sync and a busy timeout, so
// concurrent CGI processes and a FastCGI server's threads all write it; one connection per user.
#pragma once

#include <memory>

#include "ArchiveStore.h"

namespace velmora {

// Throws TArchiveError (the library missing, the file unusable); a damaged file is moved aside
// as "<file>.corrupt-<UTC time>" and a new one started, with a log line through log.
std::unique_ptr<TArchiveStore> OpenSqliteArchive(const TArchiveSettings& settings,
                                                 const std::function<void(const std::string&)>& log);

}  // namespace velmora
