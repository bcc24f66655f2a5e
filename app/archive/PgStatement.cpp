// The binary encodings of PostgreSQL's wire protocol for the few types the archive sends: bytea
// and text as their bytes, int8 big-endian, bool one byte, one-dimensional arrays without NULLs.
#include "PgStatement.h"

namespace velmora {

namespace {

constexpr uint32_t kInt8Oid = 20;
constexpr uint32_t kByteaOid = 17;

void Put32(std::string& out, uint32_t v) {
    for (int shift = 24; shift >= 0; shift -= 8) out += static_cast<char>((v >> shift) & 0xff);
}

void Put64(std::string& out, int64_t v) {
    for (int shift = 56; shift >= 0; shift -= 8) out += static_cast<char>((static_cast<uint64_t>(v) >> shift) & 0xff);
}

std::string ArrayHead(uint32_t oid, size_t n) {
    std::string a;
    Put32(a, n ? 1 : 0);  // dimensions
    Put32(a, 0);          // no NULL elements
    Put32(a, oid);
    if (n) {
        Put32(a, static_cast<uint32_t>(n));
        Put32(a, 1);  // lower bound
    }
    return a;
}

}  // namespace

TPgParams& TPgParams::Bytes(const std::string& value) {
    FValues.push_back(value);
    FNull.push_back(false);
    return *this;
}

TPgParams& TPgParams::Null() {
    FValues.emplace_back();
    FNull.push_back(true);
    return *this;
}

TPgParams& TPgParams::Int(int64_t value) {
    std::string b;
    Put64(b, value);
    return Bytes(b);
}

TPgParams& TPgParams::Bool(bool value) { return Bytes(std::string(1, value ? '\1' : '\0')); }

TPgParams& TPgParams::ByteaArray(const std::vector<std::string>& values) {
    std::string a = ArrayHead(kByteaOid, values.size());
    for (const std::string& v : values) {
        Put32(a, static_cast<uint32_t>(v.size()));
        a += v;
    }
    return Bytes(a);
}

TPgParams& TPgParams::Int8Array(const std::vector<int64_t>& values) {
    std::string a = ArrayHead(kInt8Oid, values.size());
    for (int64_t v : values) {
        Put32(a, 8);
        Put64(a, v);
    }
    return Bytes(a);
}

std::vector<const char*> TPgParams::Pointers() const {
    std::vector<const char*> p;
    for (size_t i = 0; i < FValues.size(); ++i) p.push_back(FNull[i] ? nullptr : FValues[i].data());
    return p;
}

std::vector<int> TPgParams::Lengths() const {
    std::vector<int> n;
    for (const std::string& v : FValues) n.push_back(static_cast<int>(v.size()));
    return n;
}

TPgRows::TPgRows(const TPq& api, TPgConn* conn, const char* sql, const TPgParams& params) : FApi(api) {
    std::vector<const char*> values = params.Pointers();
    std::vector<int> lengths = params.Lengths();
    std::vector<int> formats(values.size(), 1);
    FResult = api.ExecParams(conn, sql, params.Count(), nullptr, values.data(), lengths.data(), formats.data(), 1);
    int status = FResult ? api.ResultStatus(FResult) : -1;
    if (status == kPgCommandOk || status == kPgTuplesOk) return;
    std::string why = FResult ? api.ResultErrorMessage(FResult) : api.ErrorMessage(conn);
    if (FResult) api.Clear(FResult);
    while (!why.empty() && (why.back() == '\n' || why.back() == ' ')) why.pop_back();
    throw TArchiveError(why.empty() ? "the server did not answer" : why);
}

std::string TPgRows::Bytes(int row, int column) const {
    if (IsNull(row, column)) return "";
    return std::string(FApi.GetValue(FResult, row, column), static_cast<size_t>(FApi.GetLength(FResult, row, column)));
}

int64_t TPgRows::Int(int row, int column) const {
    if (IsNull(row, column)) return 0;
    const unsigned char* b = reinterpret_cast<const unsigned char*>(FApi.GetValue(FResult, row, column));
    uint64_t v = 0;
    for (int i = 0; i < 8; ++i) v = (v << 8) | b[i];
    return static_cast<int64_t>(v);
}

}  // namespace velmora
