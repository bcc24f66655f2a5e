// A prepared SQLite statement that binds values only as parameters (no text of a post ever
// becomes SQL) and turns every failure into TArchiveError, or TArchiveCorrupt for a damaged file.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "ArchiveStore.h"
#include "SqliteLibrary.h"

namespace velmora {

// Throws for a result code that is no success: why names the step that failed.
void SqliteCheck(const TSqlite& api, sqlite3* db, int rc, const char* why);

class TSqliteStatement {
public:
    TSqliteStatement(const TSqlite& api, sqlite3* db, const char* sql);
    // A statement prepared once and kept by its connection: reset, not finalized, at the end.
    TSqliteStatement(const TSqlite& api, sqlite3* db, sqlite3_stmt* kept) : FApi(api), FDb(db), FStmt(kept), FKept(true) {}
    ~TSqliteStatement();
    TSqliteStatement(const TSqliteStatement&) = delete;
    TSqliteStatement& operator=(const TSqliteStatement&) = delete;

    // Parameters count from 1, as SQLite's do. Text keeps every byte, NUL and invalid UTF-8 too.
    TSqliteStatement& Text(int i, const std::string& value);
    TSqliteStatement& Blob(int i, const std::string& value);
    TSqliteStatement& Int(int i, int64_t value);
    TSqliteStatement& Null(int i);
    // True while a row is there; false when the statement is done.
    bool Step();
    void Run() { Step(); }
    void Reset();
    std::string Column(int i) const;
    // The same without a copy, good until the next Step.
    std::string_view ColumnView(int i) const;
    int64_t ColumnInt(int i) const;
    int Changes() const { return FApi.Changes(FDb); }

private:
    const TSqlite& FApi;
    sqlite3* FDb;
    sqlite3_stmt* FStmt = nullptr;
    bool FKept = false;
};

// Prepares sql; throws as the statements do.
sqlite3_stmt* PrepareKept(const TSqlite& api, sqlite3* db, const char* sql);

}  // namespace velmora
