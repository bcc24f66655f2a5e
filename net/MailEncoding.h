// Transfer encodings of the mail sender: base64 in 60-character lines, quoted-printable after
// RFC 2045, the body encoding a header template declares, and dot-stuffing of the DATA text.
#pragma once

#include <cstddef>
#include <string>

namespace velmora {

class TStringList;

// Base64 (standard alphabet, "=" padding) cut into lines of 60 characters (45 input bytes), each
// followed by CR LF. Feed any number of pieces; Finish emits the last, shorter line.
class TBase64LineEncoder {
public:
    // Appends the complete lines that the new bytes make to out.
    void Add(const char* data, size_t size, std::string& out);
    void Finish(std::string& out);

private:
    unsigned char FPending[3] = {};
    size_t FPendingCount = 0;
    std::string FLine;
};
std::string EncodeBase64Lines(const std::string& data);
// The same as one line without line breaks, as SMTP AUTH exchanges it.
std::string EncodeBase64(const std::string& data);

// Quoted-printable (RFC 2045): "=", control and 8-bit bytes as =XX, blanks before a line end
// encoded, soft line breaks keeping every line within 76 characters, CR LF kept as hard breaks.
std::string EncodeQuotedPrintable(const std::string& text);

enum class TBodyEncoding { None, QuotedPrintable, Base64 };
// The encoding named by a "Content-Transfer-Encoding:" line of the header template.
TBodyEncoding DeclaredBodyEncoding(const TStringList& header);

// Every lone CR and lone LF becomes CR LF: text sent without a transfer encoding must not carry
// line breaks that a relay might read differently from the client (end-of-data smuggling).
std::string NormalizeLineBreaks(const std::string& text);

// Doubles the "." that begins a line (RFC 5321 4.5.2), so that no line of the message can end
// the DATA phase and a relay gives back every line as written. atLineStart: text begins a line.
std::string DotStuff(const std::string& text, bool atLineStart);

}  // namespace velmora
