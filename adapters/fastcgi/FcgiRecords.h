// FastCGI records: the 8-byte header read in one place with its lengths checked, and the writer of
// every record this server sends (stream records, END_REQUEST, management answers).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace velmora::fcgi {

enum TRecordType : uint8_t {
    kBeginRequest = 1,
    kAbortRequest = 2,
    kEndRequest = 3,
    kParams = 4,
    kStdin = 5,
    kStdout = 6,
    kStderr = 7,
    kData = 8,
    kGetValues = 9,
    kGetValuesResult = 10,
    kUnknownType = 11,
};

enum TProtocolStatus : uint8_t { kRequestComplete = 0, kCantMpxConn = 1, kOverloaded = 2, kUnknownRole = 3 };

constexpr uint8_t kVersion = 1;
constexpr uint16_t kResponder = 1;
constexpr uint8_t kKeepConn = 1;  // BEGIN_REQUEST flag: the server closes the connection itself
constexpr size_t kHeaderSize = 8;
constexpr size_t kMaxContent = 65535;

struct THeader {
    uint8_t Version = 0;
    uint8_t Type = 0;
    uint16_t RequestId = 0;
    uint16_t ContentLength = 0;
    uint8_t PaddingLength = 0;
    // Bytes the record takes after its header.
    size_t BodySize() const { return size_t{ContentLength} + PaddingLength; }
};

// Reads a header from the first kHeaderSize bytes of b (the caller has checked there are that many).
THeader ReadHeader(std::string_view b);

// One record with content of at most kMaxContent bytes, padded to a multiple of eight.
void AppendRecord(std::string& out, uint8_t type, uint16_t id, std::string_view content);
// A stream's bytes in as many records as they need; an empty stream writes nothing (the caller
// ends a stream with AppendRecord(type, id, "")).
void AppendStream(std::string& out, uint8_t type, uint16_t id, std::string_view bytes);
void AppendEndRequest(std::string& out, uint16_t id, uint32_t appStatus, uint8_t protocolStatus);

}  // namespace velmora::fcgi
