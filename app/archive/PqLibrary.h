// libpq, loaded on the first use of a PostgreSQL archive: a site without one never maps it. The
// few types and functions are declared here as libpq.so.5 exports them, so no -dev package is needed.
#pragma once

namespace velmora {

struct TPgConn;
struct TPgResult;

// The values of libpq's ConnStatusType and ExecStatusType the archive tests for.
constexpr int kPgConnectionOk = 0;
constexpr int kPgCommandOk = 1;
constexpr int kPgTuplesOk = 2;

struct TPq {
    TPgConn* (*ConnectParams)(const char* const* keywords, const char* const* values, int expandDbname);
    int (*Status)(const TPgConn*);
    char* (*ErrorMessage)(const TPgConn*);
    void (*Finish)(TPgConn*);
    TPgResult* (*ExecParams)(TPgConn*, const char* command, int nParams, const unsigned* paramTypes,
                             const char* const* paramValues, const int* paramLengths, const int* paramFormats,
                             int resultFormat);
    TPgResult* (*Exec)(TPgConn*, const char* command);
    int (*ResultStatus)(const TPgResult*);
    char* (*ResultErrorMessage)(const TPgResult*);
    void (*Clear)(TPgResult*);
    int (*Ntuples)(const TPgResult*);
    char* (*GetValue)(const TPgResult*, int row, int column);
    int (*GetLength)(const TPgResult*, int row, int column);
    int (*GetIsNull)(const TPgResult*, int row, int column);
    char* (*CmdTuples)(TPgResult*);
};

// The library's functions, or null when it cannot be loaded (asked once per process).
const TPq* Pq() noexcept;

const char* PqLibraryName() noexcept;

}  // namespace velmora
