// Each member is looked up by name and checked for its kind; numbers must be plain whole numbers
// a browser writes exactly (at most 2^53 - 1), so no reader's rounding can make two of one.
#include "AltchaPayload.h"

#include <optional>

#include "Base64Decode.h"

namespace velmora {

namespace {

constexpr uint64_t kMaxSafeInteger = (uint64_t{1} << 53) - 1;

bool WholeNumber(const TJsonValue* v, uint64_t max, uint64_t& out) {
    if (!v || v->Kind != TJsonValue::TKind::Number) return false;
    const std::string& t = v->Text;
    if (t.empty() || t.size() > 16 || t.find_first_not_of("0123456789") != std::string::npos) return false;
    if (t.size() > 1 && t[0] == '0') return false;
    out = std::stoull(t);
    return out <= max;
}

bool Text(const TJsonValue* v, std::string& out) {
    if (!v || !v->IsString()) return false;
    out = v->Text;
    return true;
}

}  // namespace

bool IsHexText(std::string_view s, bool lowerOnly) {
    if (s.empty() || s.size() % 2) return false;
    for (char c : s)
        if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (!lowerOnly && c >= 'A' && c <= 'F'))) return false;
    return true;
}

std::string DecodeAltchaPayload(std::string_view field, TAltchaPayload& out) {
    out = TAltchaPayload();
    if (field.size() > kMaxAltchaPayload) return "malformed (too long)";
    std::string json;
    if (!DecodeBase64Strict(field, json)) return "malformed (not base64)";
    std::optional<TJsonValue> parsed = ParseJson(json, nullptr, 8);
    if (!parsed || !parsed->IsObject()) return "malformed (not JSON)";
    const TJsonValue& root = *parsed;
    const TJsonValue* challenge = root.Member("challenge");
    const TJsonValue* solution = root.Member("solution");
    if (!challenge || !challenge->IsObject() || !solution || !solution->IsObject()) return "malformed (no challenge)";
    const TJsonValue* parameters = challenge->Member("parameters");
    if (!parameters || !parameters->IsObject()) return "malformed (no parameters)";
    if (!Text(challenge->Member("signature"), out.Signature) || !IsHexText(out.Signature, true))
        return "malformed (no signature)";
    out.Parameters = *parameters;
    const TJsonValue& p = out.Parameters;
    if (!Text(p.Member("algorithm"), out.Algorithm) || !Text(p.Member("nonce"), out.Nonce) ||
        !Text(p.Member("salt"), out.Salt) || !Text(p.Member("keyPrefix"), out.KeyPrefix) ||
        !WholeNumber(p.Member("cost"), kMaxSafeInteger, out.Cost) ||
        !WholeNumber(p.Member("keyLength"), kMaxSafeInteger, out.KeyLength))
        return "malformed (parameters)";
    const TJsonValue* expires = p.Member("expiresAt");
    if (expires && expires->Kind != TJsonValue::TKind::Null && !WholeNumber(expires, kMaxSafeInteger, out.ExpiresAt))
        return "malformed (expiresAt)";
    if (!WholeNumber(solution->Member("counter"), 0xFFFFFFFFu, out.Counter) ||
        !Text(solution->Member("derivedKey"), out.DerivedKey) || !IsHexText(out.DerivedKey, true))
        return "malformed (solution)";
    return "";
}

}  // namespace velmora
