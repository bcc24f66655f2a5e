// The proof-of-work payload a form posts in its "altcha" field: base64 of the JSON object
// {"challenge": {"parameters": {...}, "signature": "hex"}, "solution": {"counter": n,
// "derivedKey": "hex"}}, decoded and checked for shape only; whether it is true is the
// program's business (app/AltchaCheck).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "JsonReader.h"

namespace velmora {

// More than any widget sends (about 600 bytes): a larger field is refused before decoding.
constexpr size_t kMaxAltchaPayload = 4096;

struct TAltchaPayload {
    TJsonValue Parameters;  // as posted: the signature covers all of them, known or not
    std::string Signature;  // lower-case hex
    std::string Algorithm, Nonce, Salt, KeyPrefix;  // Nonce, Salt: hex as posted
    uint64_t Cost = 0, KeyLength = 0;
    uint64_t ExpiresAt = 0;  // seconds since the epoch; 0 when the challenge names none
    uint64_t Counter = 0;    // the solution: fits 32 bits
    std::string DerivedKey;  // lower-case hex
};

// Decodes field into out; "" when it has the payload's shape, else what is wrong, in a few words
// fit for a log line (never the payload itself).
std::string DecodeAltchaPayload(std::string_view field, TAltchaPayload& out);

// Whether s is non-empty hex of even length, lower case only when lowerOnly.
bool IsHexText(std::string_view s, bool lowerOnly);

}  // namespace velmora
