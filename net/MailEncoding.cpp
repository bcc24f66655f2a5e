// Base64 lines, quoted-printable, line-break normalisation and dot-stuffing for the DATA text of
// the mail sender. Pure text functions, so the rules can be checked without a relay.
#include "MailEncoding.h"

#include "StringList.h"
#include "SysUtils.h"

namespace velmora {

namespace {

constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
constexpr size_t kBase64LineLength = 60;
constexpr char kHex[] = "0123456789ABCDEF";
constexpr size_t kMaxQpLine = 76;  // including the "=" of a soft line break

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

// A byte that quoted-printable may carry as itself (RFC 2045 rule 2, blanks handled apart).
bool IsLiteral(char c) {
    auto b = static_cast<unsigned char>(c);
    return (b >= 33 && b <= 126 && b != '=') || IsBlank(c);
}

std::string Escaped(char c) {
    auto b = static_cast<unsigned char>(c);
    return {'=', kHex[b >> 4], kHex[b & 15]};
}

// One line of text (no CR LF in it as a pair) in quoted-printable, with soft breaks as needed.
void EncodeQpLine(const std::string& line, std::string& out) {
    size_t width = 0;
    for (size_t i = 0; i < line.size(); ++i) {
        bool last = i + 1 == line.size();
        // A blank that ends the line would be taken away by transports; RFC 2045 rule 3.
        std::string token = IsLiteral(line[i]) && !(last && IsBlank(line[i]))
                                ? std::string(1, line[i]) : Escaped(line[i]);
        // Room is left for the "=" of a soft break unless this token ends the line.
        size_t limit = last ? kMaxQpLine : kMaxQpLine - 1;
        if (width + token.size() > limit) {
            out += "=\r\n";
            width = 0;
        }
        out += token;
        width += token.size();
    }
}

}  // namespace

void TBase64LineEncoder::Add(const char* data, size_t size, std::string& out) {
    for (size_t i = 0; i < size; ++i) {
        FPending[FPendingCount++] = static_cast<unsigned char>(data[i]);
        if (FPendingCount < 3) continue;
        FLine += kAlphabet[FPending[0] >> 2];
        FLine += kAlphabet[((FPending[0] & 3) << 4) | (FPending[1] >> 4)];
        FLine += kAlphabet[((FPending[1] & 15) << 2) | (FPending[2] >> 6)];
        FLine += kAlphabet[FPending[2] & 63];
        FPendingCount = 0;
        if (FLine.size() >= kBase64LineLength) {
            out += FLine + "\r\n";
            FLine.clear();
        }
    }
}

void TBase64LineEncoder::Finish(std::string& out) {
    if (FPendingCount > 0) {
        unsigned char b1 = FPendingCount > 1 ? FPending[1] : 0;
        FLine += kAlphabet[FPending[0] >> 2];
        FLine += kAlphabet[((FPending[0] & 3) << 4) | (b1 >> 4)];
        FLine += FPendingCount > 1 ? kAlphabet[(b1 & 15) << 2] : '=';
        FLine += '=';
        FPendingCount = 0;
    }
    if (!FLine.empty()) out += FLine + "\r\n";
    FLine.clear();
}

std::string EncodeBase64Lines(const std::string& data) {
    TBase64LineEncoder encoder;
    std::string out;
    encoder.Add(data.data(), data.size(), out);
    encoder.Finish(out);
    return out;
}

std::string EncodeBase64(const std::string& data) {
    std::string lines = EncodeBase64Lines(data), out;
    for (char c : lines)
        if (c != '\r' && c != '\n') out += c;
    return out;
}

std::string EncodeQuotedPrintable(const std::string& text) {
    std::string out;
    size_t start = 0;
    while (start <= text.size()) {
        size_t end = text.find("\r\n", start);
        if (end == std::string::npos) {
            EncodeQpLine(text.substr(start), out);
            break;
        }
        EncodeQpLine(text.substr(start, end - start), out);
        out += "\r\n";
        start = end + 2;
    }
    return out;
}

TBodyEncoding DeclaredBodyEncoding(const TStringList& header) {
    static const std::string kField = "CONTENT-TRANSFER-ENCODING:";
    for (const std::string& line : header) {
        std::string upper = UpperCase(Trim(line));
        if (upper.compare(0, kField.size(), kField) != 0) continue;
        std::string value = Trim(upper.substr(kField.size()));
        if (value == "QUOTED-PRINTABLE") return TBodyEncoding::QuotedPrintable;
        if (value == "BASE64") return TBodyEncoding::Base64;
        return TBodyEncoding::None;
    }
    return TBodyEncoding::None;
}

std::string NormalizeLineBreaks(const std::string& text) {
    std::string out;
    out.reserve(text.size() + text.size() / 32);
    for (size_t i = 0; i < text.size(); ++i) {
        char c = text[i];
        if (c == '\r') {
            out += "\r\n";
            if (i + 1 < text.size() && text[i + 1] == '\n') ++i;
        } else if (c == '\n') {
            out += "\r\n";
        } else {
            out += c;
        }
    }
    return out;
}

std::string DotStuff(const std::string& text, bool atLineStart) {
    std::string out;
    out.reserve(text.size() + 16);
    bool lineStart = atLineStart;
    for (size_t i = 0; i < text.size(); ++i) {
        if (lineStart && text[i] == '.') out += '.';
        out += text[i];
        lineStart = text[i] == '\n' && i > 0 && text[i - 1] == '\r';
    }
    return out;
}

}  // namespace velmora
