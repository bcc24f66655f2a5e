// The record header reader and the record writer of the FastCGI layer: the only code that puts
// bytes of the header format together or takes them apart.
#include "FcgiRecords.h"

namespace velmora::fcgi {

namespace {

uint8_t At(std::string_view b, size_t i) { return static_cast<uint8_t>(b[i]); }

}  // namespace

THeader ReadHeader(std::string_view b) {
    THeader h;
    h.Version = At(b, 0);
    h.Type = At(b, 1);
    h.RequestId = static_cast<uint16_t>(At(b, 2) << 8 | At(b, 3));
    h.ContentLength = static_cast<uint16_t>(At(b, 4) << 8 | At(b, 5));
    h.PaddingLength = At(b, 6);
    return h;
}

void AppendRecord(std::string& out, uint8_t type, uint16_t id, std::string_view content) {
    const size_t length = content.size() < kMaxContent ? content.size() : kMaxContent;
    // Web servers read whole records more easily when each starts eight-aligned.
    const size_t padding = (8 - length % 8) % 8;
    const char header[kHeaderSize] = {static_cast<char>(kVersion), static_cast<char>(type),
                                      static_cast<char>(id >> 8),  static_cast<char>(id & 0xff),
                                      static_cast<char>(length >> 8), static_cast<char>(length & 0xff),
                                      static_cast<char>(padding), 0};
    out.append(header, kHeaderSize);
    out.append(content.data(), length);
    out.append(padding, '\0');
}

void AppendStream(std::string& out, uint8_t type, uint16_t id, std::string_view bytes) {
    for (size_t p = 0; p < bytes.size(); p += kMaxContent) AppendRecord(out, type, id, bytes.substr(p, kMaxContent));
}

void AppendEndRequest(std::string& out, uint16_t id, uint32_t appStatus, uint8_t protocolStatus) {
    const char body[8] = {static_cast<char>(appStatus >> 24), static_cast<char>(appStatus >> 16),
                          static_cast<char>(appStatus >> 8),  static_cast<char>(appStatus & 0xff),
                          static_cast<char>(protocolStatus),  0, 0, 0};
    AppendRecord(out, kEndRequest, id, std::string_view(body, sizeof body));
}

}  // namespace velmora::fcgi
