// FastCGI records as a web server writes them, and the records of an answer taken apart: the test
// side of the protocol, for feeding the FastCGI engine over a socket pair without a web server.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace velmora::test {

enum : uint8_t { kFcgiBegin = 1, kFcgiAbort = 2, kFcgiEnd = 3, kFcgiParams = 4, kFcgiStdin = 5, kFcgiStdout = 6, kFcgiStderr = 7,
                 kFcgiGetValues = 9, kFcgiGetValuesResult = 10, kFcgiUnknownType = 11 };

// One record: version 1, the type, request id, content and no padding.
inline std::string FcgiRecord(uint8_t type, uint16_t id, const std::string& content) {
    std::string r;
    r += '\1';
    r += static_cast<char>(type);
    r += static_cast<char>(id >> 8);
    r += static_cast<char>(id & 0xff);
    r += static_cast<char>(content.size() >> 8);
    r += static_cast<char>(content.size() & 0xff);
    r += '\0';
    r += '\0';
    return r + content;
}

// A length in the name-value encoding: one byte below 128, else four with the top bit set.
inline std::string FcgiLength(uint32_t n) {
    if (n < 128) return std::string(1, static_cast<char>(n));
    return {static_cast<char>((n >> 24) | 0x80), static_cast<char>(n >> 16), static_cast<char>(n >> 8), static_cast<char>(n)};
}

// BEGIN_REQUEST (responder unless role says otherwise), the parameters, the empty PARAMS record,
// the body in STDIN records of at most 65535 bytes and the empty STDIN record.
inline std::string FcgiRequest(const std::vector<std::pair<std::string, std::string>>& params, const std::string& body,
                               uint16_t id = 1, bool keep = false, uint8_t role = 1) {
    std::string out = FcgiRecord(kFcgiBegin, id, {'\0', static_cast<char>(role), static_cast<char>(keep ? 1 : 0), 0, 0, 0, 0, 0});
    std::string pairs;
    for (const auto& [name, value] : params) pairs += FcgiLength(static_cast<uint32_t>(name.size())) + FcgiLength(static_cast<uint32_t>(value.size())) + name + value;
    for (size_t p = 0; p < pairs.size(); p += 65535) out += FcgiRecord(kFcgiParams, id, pairs.substr(p, 65535));
    out += FcgiRecord(kFcgiParams, id, "");
    for (size_t p = 0; p < body.size(); p += 65535) out += FcgiRecord(kFcgiStdin, id, body.substr(p, 65535));
    return out + FcgiRecord(kFcgiStdin, id, "");
}

// Every record of a byte stream as sent (type, request id, content), up to the last whole one.
struct FcgiRec {
    uint8_t Type = 0;
    uint16_t Id = 0;
    std::string Content;
};

inline std::vector<FcgiRec> ParseFcgiRecords(const std::string& bytes) {
    std::vector<FcgiRec> out;
    for (size_t p = 0; p + 8 <= bytes.size();) {
        size_t length = (static_cast<uint8_t>(bytes[p + 4]) << 8) | static_cast<uint8_t>(bytes[p + 5]);
        size_t padding = static_cast<uint8_t>(bytes[p + 6]);
        if (p + 8 + length > bytes.size()) break;
        out.push_back({static_cast<uint8_t>(bytes[p + 1]),
                       static_cast<uint16_t>((static_cast<uint8_t>(bytes[p + 2]) << 8) | static_cast<uint8_t>(bytes[p + 3])),
                       bytes.substr(p + 8, length)});
        p += 8 + length + padding;
    }
    return out;
}

// An answer's records: the STDOUT and STDERR text joined, and how many END_REQUEST records came.
struct FcgiAnswer {
    std::string Out, Err;
    int Ends = 0;
};

inline FcgiAnswer ParseFcgiAnswer(const std::string& bytes) {
    FcgiAnswer a;
    for (size_t p = 0; p + 8 <= bytes.size();) {
        auto type = static_cast<uint8_t>(bytes[p + 1]);
        size_t length = (static_cast<uint8_t>(bytes[p + 4]) << 8) | static_cast<uint8_t>(bytes[p + 5]);
        size_t padding = static_cast<uint8_t>(bytes[p + 6]);
        std::string content = bytes.substr(p + 8, length);
        if (type == kFcgiStdout) a.Out += content;
        if (type == kFcgiStderr) a.Err += content;
        if (type == kFcgiEnd) ++a.Ends;
        p += 8 + length + padding;
    }
    return a;
}

}  // namespace velmora::test
