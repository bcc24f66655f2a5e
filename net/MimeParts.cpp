// The boundary and attachment headers of MimeParts.h. File names come from visitors: what goes
// into a header here is one line of printable ASCII whatever they send.
#include "MimeParts.h"

#include <cstdint>

#include "JsonText.h"
#include "System.h"

namespace velmora {

namespace {

constexpr const char* kHex = "0123456789ABCDEF";
// Bytes of percent-encoded name per continuation line, well below the 78 a line should keep to.
constexpr size_t kContinuationBytes = 60;
// The most of a name readers without RFC 2231 get, escapes included: its header line then stays far
// below the 998 bytes a line may have, and the whole name goes in the extended form as well.
constexpr size_t kMostFallbackBytes = 200;

// A code point of UTF-8 text at s[i]; n gets its length in bytes. Only called on valid UTF-8.
uint32_t CodePointAt(const std::string& s, size_t i, size_t& n) {
    const auto b = [&](size_t k) { return static_cast<uint32_t>(static_cast<unsigned char>(s[i + k])); };
    const uint32_t c = b(0);
    if (c < 0x80) return n = 1, c;
    if (c < 0xE0) return n = 2, ((c & 0x1F) << 6) | (b(1) & 0x3F);
    if (c < 0xF0) return n = 3, ((c & 0x0F) << 12) | ((b(1) & 0x3F) << 6) | (b(2) & 0x3F);
    return n = 4, ((c & 0x07) << 18) | ((b(1) & 0x3F) << 12) | ((b(2) & 0x3F) << 6) | (b(3) & 0x3F);
}

// C0, DEL and C1 controls, the bidirectional embeddings, overrides and isolates, and the marks
// that steer the direction of the text around them.
bool IsHiddenCodePoint(uint32_t c) {
    return c < 0x20 || (c >= 0x7F && c <= 0x9F) || (c >= 0x202A && c <= 0x202E) || (c >= 0x2066 && c <= 0x2069) ||
           c == 0x200E || c == 0x200F || c == 0x061C;
}

std::string Latin1ToUtf8(const std::string& s) {
    std::string out;
    for (char ch : s) {
        const auto c = static_cast<unsigned char>(ch);
        if (c < 0x80) {
            out += ch;
        } else {
            out += static_cast<char>(0xC0 | (c >> 6));
            out += static_cast<char>(0x80 | (c & 0x3F));
        }
    }
    return out;
}

// An ASCII name for readers that know no RFC 2231: each other character becomes "_", and the
// quotes and backslashes of the quoted string are escaped. cut tells whether the name was longer
// than such a reader gets.
std::string AsciiFallback(const std::string& utf8, bool& cut) {
    std::string out;
    cut = false;
    for (size_t i = 0, n = 0; i < utf8.size(); i += n) {
        const uint32_t c = CodePointAt(utf8, i, n);
        const bool escaped = c == '"' || c == '\\';
        if (out.size() + (escaped ? 2 : 1) > kMostFallbackBytes) {
            cut = true;
            break;
        }
        if (escaped) out += '\\';
        out += c < 0x80 ? static_cast<char>(c) : '_';
    }
    return out;
}

bool IsAttrChar(unsigned char c) {
    if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9')) return true;
    for (char ok : std::string("!#$&+-.^_`|~"))
        if (c == static_cast<unsigned char>(ok)) return true;
    return false;
}

// filename*=UTF-8''... for a short name; a longer one as filename*0*=UTF-8''...; filename*1*=...
// with each piece on a line of its own, a %XX triplet never split.
std::string ExtendedFileName(const std::string& utf8) {
    std::string out, piece;
    int index = 0;
    auto flush = [&] {
        out += ";\r\n filename*" + std::to_string(index) + "*=" + (index == 0 ? "UTF-8''" : "") + piece;
        ++index;
        piece.clear();
    };
    for (char ch : utf8) {
        const auto c = static_cast<unsigned char>(ch);
        std::string code = IsAttrChar(c) ? std::string(1, ch) : std::string{'%', kHex[c >> 4], kHex[c & 15]};
        if (piece.size() + code.size() > kContinuationBytes) flush();
        piece += code;
    }
    // A name that fits one line goes as the plain filename*=, which every reader knows.
    if (index == 0) return ";\r\n filename*=UTF-8''" + piece;
    if (!piece.empty()) flush();
    return out;
}

bool IsAscii(const std::string& s) {
    for (char c : s)
        if (static_cast<unsigned char>(c) >= 0x80) return false;
    return true;
}

}  // namespace

std::string NewMimeBoundary() {
    unsigned char bytes[16];
    RandomBytes(bytes, sizeof bytes);
    std::string boundary = "=_";
    for (unsigned char b : bytes) {
        boundary += kHex[b >> 4];
        boundary += kHex[b & 15];
    }
    return boundary;
}

std::string CleanAttachmentName(const std::string& name) {
    const std::string utf8 = IsValidUtf8(name) ? name : Latin1ToUtf8(name);
    std::string out;
    for (size_t i = 0, n = 0; i < utf8.size(); i += n)
        if (!IsHiddenCodePoint(CodePointAt(utf8, i, n))) out.append(utf8, i, n);
    return out.empty() ? "attachment" : out;
}

std::string AttachmentPartHeader(const std::string& displayName) {
    const std::string name = CleanAttachmentName(displayName);
    bool cut = false;
    const std::string fallback = AsciiFallback(name, cut);
    // The extended name comes first: readers that know both forms take the first they find.
    return "Content-Type: application/octet-stream; name=\"" + fallback + "\"\r\n" +
           "Content-Transfer-Encoding: Base64\r\n" + "Content-Disposition: attachment" +
           (IsAscii(name) && !cut ? "" : ExtendedFileName(name)) + ";\r\n filename=\"" + fallback + "\"\r\n\r\n";
}

}  // namespace velmora
