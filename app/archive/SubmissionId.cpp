// UUID version 7 from the clock and the kernel's random bytes: two processes (CGI starts) or
// threads made in the same millisecond still differ in 74 random bits.
#include "SubmissionId.h"

#include <chrono>
#include <cstring>

#include "System.h"

namespace velmora {

namespace {

int HexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

}  // namespace

int64_t UnixMillis() {
    using namespace std::chrono;
    return duration_cast<milliseconds>(system_clock::now().time_since_epoch()).count();
}

std::string NewSubmissionId(int64_t unixMs) {
    uint8_t b[16];
    RandomBytes(b + 6, 10);
    for (int i = 0; i < 6; ++i) b[i] = static_cast<uint8_t>(static_cast<uint64_t>(unixMs) >> (8 * (5 - i)));
    b[6] = static_cast<uint8_t>(0x70 | (b[6] & 0x0f));  // version 7
    b[8] = static_cast<uint8_t>(0x80 | (b[8] & 0x3f));  // the variant of RFC 9562
    static const char* const hex = "0123456789abcdef";
    std::string text;
    for (int i = 0; i < 16; ++i) {
        if (i == 4 || i == 6 || i == 8 || i == 10) text += '-';
        text += hex[b[i] >> 4];
        text += hex[b[i] & 15];
    }
    return text;
}

int64_t SubmissionIdTime(const std::string& text) {
    if (text.size() != 36 || text[14] != '7') return -1;
    int64_t ms = 0;
    for (size_t i = 0; i < text.size(); ++i) {
        bool dash = i == 8 || i == 13 || i == 18 || i == 23;
        if (dash != (text[i] == '-')) return -1;
        if (dash) continue;
        int v = HexValue(text[i]);
        if (v < 0) return -1;
        if (i < 13) ms = ms * 16 + v;
    }
    return ms;
}

}  // namespace velmora
