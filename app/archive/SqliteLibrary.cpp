// Binds the few SQLite functions the archive calls. The SONAME is Debian's, the one the -dev
// package's header belongs to; the types come from that header, the code from the library at run time.
#include "SqliteLibrary.h"

#include "Library.h"

namespace velmora {

namespace {

constexpr const char* kLibrary = "libsqlite3.so.0";

template <class F>
bool Bind(TLibraryHandle library, const char* name, F& fn) {
    fn = reinterpret_cast<F>(GetProcAddress(library, name));
    return fn != nullptr;
}

const TSqlite* Load() {
    static TSqlite api;
    TLibraryHandle l = LoadLibrary(kLibrary);
    if (!l) return nullptr;
    bool all = Bind(l, "sqlite3_open_v2", api.Open) && Bind(l, "sqlite3_close_v2", api.Close) &&
               Bind(l, "sqlite3_busy_timeout", api.BusyTimeout) && Bind(l, "sqlite3_exec", api.Exec) &&
               Bind(l, "sqlite3_prepare_v2", api.Prepare) && Bind(l, "sqlite3_bind_blob64", api.BindBlob) &&
               Bind(l, "sqlite3_bind_text64", api.BindText) && Bind(l, "sqlite3_bind_int64", api.BindInt64) &&
               Bind(l, "sqlite3_bind_null", api.BindNull) && Bind(l, "sqlite3_step", api.Step) &&
               Bind(l, "sqlite3_reset", api.Reset) && Bind(l, "sqlite3_finalize", api.Finalize) &&
               Bind(l, "sqlite3_column_blob", api.ColumnBlob) && Bind(l, "sqlite3_column_bytes", api.ColumnBytes) &&
               Bind(l, "sqlite3_column_int64", api.ColumnInt64) && Bind(l, "sqlite3_column_type", api.ColumnType) &&
               Bind(l, "sqlite3_changes", api.Changes) && Bind(l, "sqlite3_errmsg", api.ErrorMessage) &&
               Bind(l, "sqlite3_extended_errcode", api.ExtendedError);
    return all ? &api : nullptr;
}

}  // namespace

const TSqlite* Sqlite() noexcept {
    static const TSqlite* api = Load();
    return api;
}

const char* SqliteLibraryName() noexcept { return kLibrary; }

}  // namespace velmora
