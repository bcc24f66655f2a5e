// The statement wrapper: every value goes in through a bind call, every error comes out as an
// exception whose kind tells a damaged file from a busy or full one.
#include "SqliteStatement.h"

namespace velmora {

void SqliteCheck(const TSqlite& api, sqlite3* db, int rc, const char* why) {
    if (rc == SQLITE_OK || rc == SQLITE_ROW || rc == SQLITE_DONE) return;
    std::string text = std::string(why) + ": " + (db ? api.ErrorMessage(db) : "out of memory");
    int primary = rc & 0xff;
    if (primary == SQLITE_CORRUPT || primary == SQLITE_NOTADB) throw TArchiveCorrupt(text);
    throw TArchiveError(text);
}

TSqliteStatement::TSqliteStatement(const TSqlite& api, sqlite3* db, const char* sql) : FApi(api), FDb(db) {
    SqliteCheck(api, db, api.Prepare(db, sql, -1, &FStmt, nullptr), "prepare");
}

TSqliteStatement::~TSqliteStatement() {
    if (FStmt && FKept) FApi.Reset(FStmt);
    else if (FStmt) FApi.Finalize(FStmt);
}

sqlite3_stmt* PrepareKept(const TSqlite& api, sqlite3* db, const char* sql) {
    sqlite3_stmt* stmt = nullptr;
    SqliteCheck(api, db, api.Prepare(db, sql, -1, &stmt, nullptr), "prepare");
    return stmt;
}

TSqliteStatement& TSqliteStatement::Null(int i) {
    SqliteCheck(FApi, FDb, FApi.BindNull(FStmt, i), "bind");
    return *this;
}

TSqliteStatement& TSqliteStatement::Text(int i, const std::string& value) {
    SqliteCheck(FApi, FDb, FApi.BindText(FStmt, i, value.data(), value.size(), SQLITE_TRANSIENT, SQLITE_UTF8), "bind");
    return *this;
}

TSqliteStatement& TSqliteStatement::Blob(int i, const std::string& value) {
    SqliteCheck(FApi, FDb, FApi.BindBlob(FStmt, i, value.data(), value.size(), SQLITE_TRANSIENT), "bind");
    return *this;
}

TSqliteStatement& TSqliteStatement::Int(int i, int64_t value) {
    SqliteCheck(FApi, FDb, FApi.BindInt64(FStmt, i, value), "bind");
    return *this;
}

bool TSqliteStatement::Step() {
    int rc = FApi.Step(FStmt);
    SqliteCheck(FApi, FDb, rc, "step");
    return rc == SQLITE_ROW;
}

void TSqliteStatement::Reset() { FApi.Reset(FStmt); }

std::string TSqliteStatement::Column(int i) const {
    const void* bytes = FApi.ColumnBlob(FStmt, i);
    int n = FApi.ColumnBytes(FStmt, i);
    return bytes ? std::string(static_cast<const char*>(bytes), static_cast<size_t>(n)) : std::string();
}

std::string_view TSqliteStatement::ColumnView(int i) const {
    const void* bytes = FApi.ColumnBlob(FStmt, i);
    int n = FApi.ColumnBytes(FStmt, i);
    return bytes ? std::string_view(static_cast<const char*>(bytes), static_cast<size_t>(n)) : std::string_view();
}

int64_t TSqliteStatement::ColumnInt(int i) const { return FApi.ColumnInt64(FStmt, i); }

}  // namespace velmora
