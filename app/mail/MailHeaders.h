// The header lines a site's options add to a form's mail: Reply-To from a form field, Date and
// Message-ID, and the character set the text is declared in (with the subject encoded to match).
#pragma once

#include <string>

#include "StringList.h"

namespace velmora {

// The address a Reply-To may name: one plain address local@domain (one "@") of printable ASCII without
// blanks, quotes, brackets, separators or "%" (nothing that could end the line, add an address or
// look like a header placeholder), at most 254 bytes. "" when the value is no such address.
std::string ReplyToAddress(const std::string& value);

// "utf-8" or "iso-8859-1" for the site's mail_charset: auto takes UTF-8 when text is valid UTF-8
// with a byte above 127, or when the form's _charset_ field names UTF-8.
std::string ChooseMailCharset(const std::string& setting, const std::string& text, const std::string& charsetField);

// A header value with bytes above 127 as RFC 2047 encoded words of that charset, each whole
// characters and at most 75 bytes; pure ASCII is returned as it is.
std::string EncodeHeaderWords(const std::string& value, const std::string& charset);

// "Date: Mon, 07 Dec 2026 15:18:31 +0000" for now.
std::string DateHeaderLine();
// "Message-ID: <random.time@domain>", the domain taken from the sender's address when it has a
// plain one.
std::string MessageIdHeaderLine(const std::string& mailFrom);

// Replaces the charset of the header's "Content-Type: text/plain" line.
void SetHeaderCharset(TStringList& header, const std::string& charset);

}  // namespace velmora
