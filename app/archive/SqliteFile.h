// The archive's SQLite file opened for use: its folder made private, the file created 0600, WAL
// with full sync and the busy timeout set; a file that is no database moved aside, never deleted.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "ArchiveSettings.h"
#include "SqliteLibrary.h"

namespace velmora {

// One open connection; closed with the object. Move-only.
class TSqliteFile {
public:
    TSqliteFile(const TSqlite& api, sqlite3* db) : FApi(&api), FDb(db) {}
    TSqliteFile(TSqliteFile&& o) noexcept : FApi(o.FApi), FDb(o.FDb) { o.FDb = nullptr; }
    TSqliteFile& operator=(TSqliteFile&&) = delete;
    ~TSqliteFile();
    const TSqlite& Api() const { return *FApi; }
    sqlite3* Db() const { return FDb; }

private:
    const TSqlite* FApi;
    sqlite3* FDb;
};

// Throws TArchiveError when the library or the file cannot be had.
TSqliteFile OpenSqliteFile(const TArchiveSettings& settings, const std::function<void(const std::string&)>& log);

// What tells one file from the next one of the same name (its inode).
uint64_t FileIdentity(const std::string& file);
// Renames file (and its -wal and -shm) to "<file>.corrupt-<UTC time>", under a lock, when it is
// still the file found damaged (found: its identity then), not a new one another process began.
void MoveAsideCorrupt(const std::string& file, uint64_t found, const std::function<void(const std::string&)>& log);

}  // namespace velmora
