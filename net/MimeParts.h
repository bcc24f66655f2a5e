// The MIME layout of a mail with attachments: a boundary drawn per mail, and each attachment's
// part header with a file name that is safe to show. Used by the sender's DATA text.
#pragma once

#include <string>

namespace velmora {

// "=_" and 32 hex digits from the system's random source (128 bits). "=_" never occurs in
// quoted-printable or base64 text, and nobody can guess the rest to write it into a form.
std::string NewMimeBoundary();

// The file name as the recipient's reader will show it: bidirectional controls (which reverse
// "exe.txt" into "txt.exe" on screen) and every other control character removed; text that is
// not UTF-8 is read as ISO-8859-1. The result is UTF-8, "attachment" when nothing is left.
std::string CleanAttachmentName(const std::string& name);

// The three header lines of an attachment part and the empty line after them. A name beyond
// ASCII, or longer than the ASCII fallback may be (200 bytes), goes as RFC 2231 "filename*" (UTF-8,
// in continuation lines) before the plain fallback; no line is longer than that, whatever the name.
std::string AttachmentPartHeader(const std::string& displayName);

}  // namespace velmora
