// Proof-of-work challenges in the ALTCHA v2 form (PBKDF2/SHA-256): the challenge velmora issues
// at "?altcha", and the check of the payload a post carries back. The rules only; the request
// path (hauptAltcha.cpp) reads the site's keys, answers and logs.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "ReplayStore.h"

namespace velmora {

struct TAltchaSettings {
    std::string HmacKey;
    unsigned Cost = 1000;        // PBKDF2 rounds of one attempt (the altcha_cost key's default)
    unsigned PrefixDigits = 2;   // hex digits the derived key must start with: 16^n attempts on average
    long ExpiresSeconds = 600;
    long MinFillSeconds = 0;     // a post sooner than this after its challenge was issued is refused
};

// The shortest HMAC key taken: a shorter one could be found from one signed challenge offline.
constexpr size_t kMinAltchaKeyLength = 16;

// The single-use claim of a solved challenge (ClaimOnce, or a test's own).
using TClaimFunction = std::function<EClaim(const std::string& key, int64_t expiresUnix)>;

// The challenge as the widget fetches it: {"parameters":{...},"signature":"hex"} with a random
// nonce and salt, expiring ExpiresSeconds after now.
std::string IssueAltchaChallenge(const TAltchaSettings& settings, int64_t now);

// A post's solution checked but not yet spent: Key is claimed once the post is about to be mailed.
struct TAltchaSolution {
    std::string Fault;       // "" when the payload passes; else the reason for the log
    long WaitSeconds = 0;    // > 0 when the only fault is a post sooner than MinFillSeconds
    std::string Key;         // the challenge's signature, for the single-use claim
    int64_t ExpiresUnix = 0;
};

// Every check of CheckAltchaPayload but the claim: the request claims only for a post it mails.
TAltchaSolution CheckAltchaSolution(const TAltchaSettings& settings, const std::string& field, int64_t now);

// Checks a post's "altcha" field at now: its shape, the signature (constant time), the expiry,
// the fill time, the solution (PBKDF2) and, last, the single use through claim. "" when the post
// passes; else the reason for the log ("missing", "expired", "forged", "replayed", ...).
std::string CheckAltchaPayload(const TAltchaSettings& settings, const std::string& field, int64_t now,
                               const TClaimFunction& claim);

}  // namespace velmora
