// Fuzz target for the proof-of-work payload a hostile client posts: the strict base64 decoder
// (what decodes encodes back to the same text), the JSON reader (what it reads writes a canonical
// text that reads back to itself, valid UTF-8), and the payload decoder (a payload taken has the
// shape its checks rely on: hex signature and key, a 32-bit counter).
#include <cstdint>
#include <cstdlib>
#include <string>

#include "AltchaPayload.h"
#include "Base64Decode.h"
#include "JsonText.h"
#include "JsonCanonical.h"
#include "MailEncoding.h"

using namespace velmora;

namespace {

void Check(bool ok) {
    if (!ok) std::abort();
}

void CheckBase64(const std::string& in) {
    std::string bytes;
    if (DecodeBase64Strict(in, bytes)) Check(EncodeBase64(bytes) == in);
}

void CheckJson(const std::string& in) {
    std::optional<TJsonValue> v = ParseJson(in);
    if (!v) return;
    std::string canonical = CanonicalJson(*v);
    // Only a text whose numbers are all plain integers has a canonical form: "" for any other.
    if (canonical.empty()) return;
    Check(IsValidUtf8(canonical));
    std::optional<TJsonValue> again = ParseJson(canonical);
    Check(again.has_value());
    Check(CanonicalJson(*again) == canonical);
}

void CheckPayload(const std::string& in) {
    TAltchaPayload p;
    if (!DecodeAltchaPayload(in, p).empty()) return;
    Check(IsHexText(p.Signature, true) && IsHexText(p.DerivedKey, true));
    Check(p.Counter <= 0xFFFFFFFFu);
    Check(p.Parameters.IsObject());
    // The decoded JSON itself goes through the payload decoder's own path again unchanged.
    TAltchaPayload q;
    std::string json;
    Check(DecodeBase64Strict(in, json));
    Check(DecodeAltchaPayload(EncodeBase64(json), q).empty() && q.Counter == p.Counter && q.Signature == p.Signature);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string in(reinterpret_cast<const char*>(data), size);
    CheckBase64(in);
    CheckJson(in);
    CheckPayload(in);
    // A JSON text as a client would post it: the payload decoder behind the base64 layer.
    if (size < 3000) CheckPayload(EncodeBase64(in));
    return 0;
}
