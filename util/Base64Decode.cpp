// Four characters give three bytes; the last group may end in one or two "=", whose unused bits
// must be zero so that exactly one text stands for each byte string.
#include "Base64Decode.h"

namespace velmora {

namespace {

int Sextet(char c) {
    if (c >= 'A' && c <= 'Z') return c - 'A';
    if (c >= 'a' && c <= 'z') return c - 'a' + 26;
    if (c >= '0' && c <= '9') return c - '0' + 52;
    if (c == '+') return 62;
    if (c == '/') return 63;
    return -1;
}

}  // namespace

bool DecodeBase64Strict(std::string_view text, std::string& out) {
    out.clear();
    if (text.size() % 4 != 0) return false;
    out.reserve(text.size() / 4 * 3);
    for (size_t i = 0; i < text.size(); i += 4) {
        bool last = i + 4 == text.size();
        int pad = last ? (text[i + 3] == '=') + (text[i + 2] == '=' && text[i + 3] == '=') : 0;
        unsigned bits = 0;
        for (int k = 0; k < 4 - pad; ++k) {
            int v = Sextet(text[i + static_cast<size_t>(k)]);
            if (v < 0) return false;
            bits = (bits << 6) | static_cast<unsigned>(v);
        }
        bits <<= 6 * pad;
        if ((pad == 1 && (bits & 0xFF)) || (pad == 2 && (bits & 0xFFFF))) return false;
        out += static_cast<char>(bits >> 16);
        if (pad < 2) out += static_cast<char>((bits >> 8) & 0xFF);
        if (pad < 1) out += static_cast<char>(bits & 0xFF);
    }
    return true;
}

}  // namespace velmora
