// CheckFastCgiHead: the record layer and the name-value pairs of a request head. The protocol
// library allocates what a pair's lengths announce and stops the process when that fails, so
// lengths beyond the bytes actually sent are refused here, before it reads them.
#include "FastCgiHead.h"

#include <cstdint>

namespace velmora {

namespace {

constexpr uint8_t kVersion = 1, kBeginRequest = 1, kParams = 4;

uint8_t Byte(std::string_view b, size_t i) { return static_cast<uint8_t>(b[i]); }

THeadVerdict Refuse(std::string reason) { return {THeadCheck::Refused, std::move(reason)}; }

// A name-value length: one byte below 128, else four with the top bit set. False past the end.
bool ReadLength(std::string_view pairs, size_t& p, uint64_t& length) {
    if (p >= pairs.size()) return false;
    if (Byte(pairs, p) < 0x80) {
        length = Byte(pairs, p++);
        return true;
    }
    if (pairs.size() - p < 4) return false;
    length = (uint64_t{Byte(pairs, p)} & 0x7f) << 24 | uint64_t{Byte(pairs, p + 1)} << 16 |
             uint64_t{Byte(pairs, p + 2)} << 8 | Byte(pairs, p + 3);
    p += 4;
    return true;
}

bool PairsFit(std::string_view pairs) {
    for (size_t p = 0; p < pairs.size();) {
        uint64_t name = 0, value = 0;
        if (!ReadLength(pairs, p, name) || !ReadLength(pairs, p, value)) return false;
        if (name + value > pairs.size() - p) return false;
        p += static_cast<size_t>(name + value);
    }
    return true;
}

}  // namespace

THeadVerdict CheckFastCgiHead(std::string_view b) {
    std::string pairs;
    int id = -1;
    for (size_t p = 0;;) {
        if (p > kMaxFastCgiHead) return Refuse("request head larger than " + std::to_string(kMaxFastCgiHead) + " bytes");
        if (b.size() - p < 8) return {};
        const uint8_t type = Byte(b, p + 1);
        const int rid = Byte(b, p + 2) << 8 | Byte(b, p + 3);
        const size_t length = static_cast<size_t>(Byte(b, p + 4) << 8 | Byte(b, p + 5)), padding = Byte(b, p + 6);
        if (Byte(b, p) != kVersion) return Refuse("record of version " + std::to_string(Byte(b, p)));
        // The library answers these itself and leaks memory on each: never passed on.
        if (rid == 0) return Refuse("management record");
        if (id < 0) {
            if (type != kBeginRequest || length != 8) return Refuse("first record is not BEGIN_REQUEST");
            id = rid;
        } else if (rid != id || type != kParams) {
            return Refuse("record of type " + std::to_string(type) + " for request " + std::to_string(rid) +
                          " before the parameters of request " + std::to_string(id) + " ended");
        }
        if (b.size() - p - 8 < length + padding) return {};
        if (type == kParams && length == 0)
            return PairsFit(pairs) ? THeadVerdict{THeadCheck::Good, {}} : Refuse("parameter length past the parameters' end");
        if (type == kParams) pairs.append(b.substr(p + 8, length));
        p += 8 + length + padding;
    }
}

}  // namespace velmora
