// JSON text for answers that scripts read: a string value escaped so that any bytes (a relay's
// reply, a posted address) give valid JSON, and the test of an Accept header that asks for it.
#pragma once

#include <string>

namespace velmora {

// s as a JSON string literal, quotes included. Valid UTF-8 passes unchanged; quotes, backslashes
// and control bytes are escaped, and a byte that is not part of valid UTF-8 is read as Latin-1
// (\u00XX), so the result is always valid JSON and valid UTF-8.
std::string JsonString(const std::string& s);

// Whether s is valid UTF-8 (no overlong forms, surrogates or code points above U+10FFFF).
bool IsValidUtf8(const std::string& s);

// Whether an Accept header prefers application/json to text/html: its quality is higher, or the
// same while JSON is named and HTML is matched only by a wildcard ("application/json, */*").
bool AcceptPrefersJson(const std::string& accept);

}  // namespace velmora
