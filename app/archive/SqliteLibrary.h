// libsqlite3, loaded on the first use of an archive in the process: a site that keeps no archive
// never maps it. The functions are those of the sqlite3.h the build saw, bound by name.
#pragma once

#include <sqlite3.h>

namespace velmora {

struct TSqlite {
    decltype(&sqlite3_open_v2) Open;
    decltype(&sqlite3_close_v2) Close;
    decltype(&sqlite3_busy_timeout) BusyTimeout;
    decltype(&sqlite3_exec) Exec;
    decltype(&sqlite3_prepare_v2) Prepare;
    decltype(&sqlite3_bind_blob64) BindBlob;
    decltype(&sqlite3_bind_text64) BindText;
    decltype(&sqlite3_bind_int64) BindInt64;
    decltype(&sqlite3_bind_null) BindNull;
    decltype(&sqlite3_step) Step;
    decltype(&sqlite3_reset) Reset;
    decltype(&sqlite3_finalize) Finalize;
    decltype(&sqlite3_column_blob) ColumnBlob;
    decltype(&sqlite3_column_bytes) ColumnBytes;
    decltype(&sqlite3_column_int64) ColumnInt64;
    decltype(&sqlite3_column_type) ColumnType;
    decltype(&sqlite3_changes) Changes;
    decltype(&sqlite3_errmsg) ErrorMessage;
    decltype(&sqlite3_extended_errcode) ExtendedError;
};

// The library's functions, or null when it cannot be loaded (asked once per process).
const TSqlite* Sqlite() noexcept;

// The file name the loader is asked for, for log lines.
const char* SqliteLibraryName() noexcept;

}  // namespace velmora
