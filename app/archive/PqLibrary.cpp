// Binds libpq's functions by name from libpq.so.5, the SONAME every libpq release since 8.3 keeps.
#include "PqLibrary.h"

#include "Library.h"

namespace velmora {

namespace {

constexpr const char* kLibrary = "libpq.so.5";

template <class F>
bool Bind(TLibraryHandle library, const char* name, F& fn) {
    fn = reinterpret_cast<F>(GetProcAddress(library, name));
    return fn != nullptr;
}

const TPq* Load() {
    static TPq api;
    TLibraryHandle l = LoadLibrary(kLibrary);
    if (!l) return nullptr;
    bool all = Bind(l, "PQconnectdbParams", api.ConnectParams) && Bind(l, "PQstatus", api.Status) &&
               Bind(l, "PQerrorMessage", api.ErrorMessage) && Bind(l, "PQfinish", api.Finish) &&
               Bind(l, "PQexecParams", api.ExecParams) && Bind(l, "PQexec", api.Exec) &&
               Bind(l, "PQresultStatus", api.ResultStatus) && Bind(l, "PQresultErrorMessage", api.ResultErrorMessage) &&
               Bind(l, "PQclear", api.Clear) && Bind(l, "PQntuples", api.Ntuples) && Bind(l, "PQgetvalue", api.GetValue) &&
               Bind(l, "PQgetlength", api.GetLength) && Bind(l, "PQgetisnull", api.GetIsNull) &&
               Bind(l, "PQcmdTuples", api.CmdTuples);
    return all ? &api : nullptr;
}

}  // namespace

const TPq* Pq() noexcept {
    static const TPq* api = Load();
    return api;
}

const char* PqLibraryName() noexcept { return kLibrary; }

}  // namespace velmora
