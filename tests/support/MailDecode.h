// Reference decoders for checking the mail sender's transfer encodings: written apart from the
// encoders (and kept simple) so that a test compares the round trip, not the encoder with itself.
#pragma once

#include <cctype>
#include <string>

namespace velmora::test {

// Base64 with line ends and padding ignored.
inline std::string DecodeBase64(const std::string& text) {
    static const std::string alphabet =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    unsigned bits = 0;
    int count = 0;
    for (char c : text) {
        size_t v = alphabet.find(c);
        if (v == std::string::npos) continue;
        bits = (bits << 6) | static_cast<unsigned>(v);
        if ((count += 6) >= 8) out += static_cast<char>((bits >> (count -= 8)) & 0xFF);
    }
    return out;
}

// Quoted-printable: "=" CR LF is a soft break, "=XX" a byte. ok turns false on a malformed escape.
inline std::string DecodeQuotedPrintable(const std::string& text, bool* ok = nullptr) {
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '=') {
            out += text[i];
        } else if (text.compare(i + 1, 2, "\r\n") == 0) {
            i += 2;
        } else if (i + 2 < text.size() && isxdigit(static_cast<unsigned char>(text[i + 1])) &&
                   isxdigit(static_cast<unsigned char>(text[i + 2]))) {
            out += static_cast<char>(std::stoi(text.substr(i + 1, 2), nullptr, 16));
            i += 2;
        } else {
            if (ok) *ok = false;
            return out;
        }
    }
    return out;
}

}  // namespace velmora::test
