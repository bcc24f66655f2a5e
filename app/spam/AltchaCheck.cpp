// The challenge's parameters are signed as the canonical JSON the widget's libraries sign
// (sorted names, no blanks), so a challenge of another ALTCHA server with the same key checks
// too. A post is checked cheapest first: the PBKDF2 run comes only after the signature, the
// expiry and the fill time have passed, and the single-use claim last.
#include "AltchaCheck.h"

#include <algorithm>

#include "AltchaPayload.h"
#include "JsonCanonical.h"
#include "Sha256.h"
#include "System.h"

namespace velmora {

namespace {

constexpr const char* kAlgorithm = "PBKDF2/SHA-256";
constexpr unsigned kKeyLength = 32;
// Beyond what any site would ask of a visitor's browser: a signed challenge of a careless key
// holder must not make one post cost seconds of the server's time.
constexpr uint64_t kMaxCost = 1000000;
constexpr uint64_t kMaxKeyLength = 64;

std::string RandomHex(size_t bytes) {
    std::string raw(bytes, '\0');
    RandomBytes(raw.data(), raw.size());
    return HexDigits(raw);
}

std::string HexBytes(const std::string& hex) {
    std::string out;
    for (size_t i = 0; i + 1 < hex.size(); i += 2) out += static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16));
    return out;
}

bool IsHexDigits(const std::string& s) {
    return !s.empty() && s.find_first_not_of("0123456789abcdefABCDEF") == std::string::npos;
}

std::string Lower(std::string s) {
    for (char& c : s)
        if (c >= 'A' && c <= 'F') c = static_cast<char>(c - 'A' + 'a');
    return s;
}

// The password of one attempt: the nonce's bytes and the counter as four bytes, big-endian.
std::string Password(const std::string& nonceHex, uint64_t counter) {
    std::string p = HexBytes(nonceHex);
    for (int shift = 24; shift >= 0; shift -= 8) p += static_cast<char>((counter >> shift) & 0xFF);
    return p;
}

std::string SolutionFault(const TAltchaPayload& p) {
    if (!IsHexText(p.Nonce, false) || !IsHexText(p.Salt, false) || !IsHexDigits(p.KeyPrefix) || p.Cost < 1 ||
        p.Cost > kMaxCost || p.KeyLength < 1 || p.KeyLength > kMaxKeyLength || p.KeyPrefix.size() > p.KeyLength * 2)
        return "malformed (parameters)";
    std::string hex = HexDigits(Pbkdf2Sha256(Password(p.Nonce, p.Counter), HexBytes(p.Salt), static_cast<unsigned>(p.Cost),
                                             p.KeyLength));
    bool same = ConstantTimeEqual(hex, p.DerivedKey);
    bool prefixed = hex.compare(0, p.KeyPrefix.size(), Lower(p.KeyPrefix)) == 0;
    return same && prefixed ? "" : "wrong solution";
}

TAltchaSolution Refused(std::string fault, long waitSeconds = 0) {
    TAltchaSolution out;
    out.Fault = std::move(fault);
    out.WaitSeconds = waitSeconds;
    return out;
}

}  // namespace

std::string IssueAltchaChallenge(const TAltchaSettings& s, int64_t now) {
    std::string parameters = std::string("{\"algorithm\":\"") + kAlgorithm + "\",\"cost\":" + std::to_string(s.Cost) +
                             ",\"expiresAt\":" + std::to_string(now + s.ExpiresSeconds) +
                             ",\"keyLength\":" + std::to_string(kKeyLength) + ",\"keyPrefix\":\"" +
                             std::string(s.PrefixDigits, '0') + "\",\"nonce\":\"" + RandomHex(16) + "\",\"salt\":\"" +
                             RandomHex(16) + "\"}";
    return "{\"parameters\":" + parameters + ",\"signature\":\"" + HexDigits(HmacSha256(s.HmacKey, parameters)) + "\"}";
}

TAltchaSolution CheckAltchaSolution(const TAltchaSettings& s, const std::string& field, int64_t now) {
    TAltchaSolution out;
    if (field.empty()) return Refused("missing");
    TAltchaPayload p;
    out.Fault = DecodeAltchaPayload(field, p);
    if (!out.Fault.empty()) return out;
    std::string signedText = CanonicalJson(p.Parameters);
    if (signedText.empty()) return Refused("malformed (numbers other than integers)");
    if (!ConstantTimeEqual(HexDigits(HmacSha256(s.HmacKey, signedText)), p.Signature)) return Refused("forged");
    if (p.Algorithm != kAlgorithm) return Refused("unsupported algorithm");
    if (p.ExpiresAt == 0) return Refused("without expiry");
    if (static_cast<int64_t>(p.ExpiresAt) < now) return Refused("expired");
    // The challenge says when it ends, not when it began: the site's lifetime gives the start.
    int64_t filled = now - (static_cast<int64_t>(p.ExpiresAt) - s.ExpiresSeconds);
    // Told before the costly solution check: the visitor may send the same solution again later.
    if (filled < s.MinFillSeconds)
        return Refused("too fast (" + std::to_string(std::max<int64_t>(filled, 0)) + "s < " + std::to_string(s.MinFillSeconds) + "s)",
                       static_cast<long>(s.MinFillSeconds - std::max<int64_t>(filled, 0)));
    out.Fault = SolutionFault(p);
    if (!out.Fault.empty()) return out;
    out.Key = p.Signature;
    out.ExpiresUnix = static_cast<int64_t>(p.ExpiresAt);
    return out;
}

std::string CheckAltchaPayload(const TAltchaSettings& s, const std::string& field, int64_t now,
                               const TClaimFunction& claim) {
    TAltchaSolution solution = CheckAltchaSolution(s, field, now);
    if (!solution.Fault.empty()) return solution.Fault;
    switch (claim(solution.Key, solution.ExpiresUnix)) {
        case EClaim::Claimed: return "";
        case EClaim::AlreadyUsed: return "replayed";
        case EClaim::Unavailable: break;
    }
    return "not checked (the record of used challenges cannot be kept)";
}

}  // namespace velmora
