// One PostgreSQL statement with its parameters, all sent in binary (bytes as they are, numbers in
// network order, arrays in the wire format), so no value of a post is ever part of SQL text.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "ArchiveStore.h"
#include "PqLibrary.h"

namespace velmora {

class TPgParams {
public:
    TPgParams& Bytes(const std::string& value);
    TPgParams& Null();
    TPgParams& Int(int64_t value);
    TPgParams& Bool(bool value);
    TPgParams& ByteaArray(const std::vector<std::string>& values);
    TPgParams& Int8Array(const std::vector<int64_t>& values);

    int Count() const { return static_cast<int>(FValues.size()); }
    std::vector<const char*> Pointers() const;
    std::vector<int> Lengths() const;

private:
    std::vector<std::string> FValues;
    std::vector<bool> FNull;
};

// A result in binary form; throws TArchiveError when the statement failed.
class TPgRows {
public:
    TPgRows(const TPq& api, TPgConn* conn, const char* sql, const TPgParams& params);
    ~TPgRows() { FApi.Clear(FResult); }
    TPgRows(const TPgRows&) = delete;
    TPgRows& operator=(const TPgRows&) = delete;

    int Rows() const { return FApi.Ntuples(FResult); }
    std::string Bytes(int row, int column) const;
    int64_t Int(int row, int column) const;  // int8; 0 for NULL
    bool IsNull(int row, int column) const { return FApi.GetIsNull(FResult, row, column) != 0; }

private:
    const TPq& FApi;
    TPgResult* FResult;
};

}  // namespace velmora
