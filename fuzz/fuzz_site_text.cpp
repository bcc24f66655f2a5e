// Fuzz target for the text a hostile client hands the site options: whatever the bytes, a JSON
// string stays one valid JSON string, a Reply-To is one harmless address or nothing, an encoded
// subject is printable ASCII, and a client address one blank-free field of the rate counts.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "JsonText.h"
#include "MailHeaders.h"
#include "RateLimit.h"

using namespace velmora;

namespace {

void Check(bool ok) {
    if (!ok) std::abort();
}

void CheckJson(const std::string& in) {
    std::string json = JsonString(in);
    Check(json.size() >= 2 && json.front() == '"' && json.back() == '"');
    Check(IsValidUtf8(json));
    for (size_t i = 1; i + 1 < json.size(); ++i) {
        auto c = static_cast<unsigned char>(json[i]);
        Check(c >= 0x20 && c != 0x7F);
        if (c == '\\') ++i;                    // an escape takes the next character with it
        else Check(c != '"');                  // no quote ends the string early
    }
    if (IsValidUtf8(in) && in.find_first_of("\"\\") == std::string::npos) {
        bool plain = true;
        for (char c : in) plain = plain && static_cast<unsigned char>(c) >= 0x20 && c != 0x7F;
        if (plain) Check(json == "\"" + in + "\"");  // nothing to escape: unchanged
    }
}

void CheckHeaders(const std::string& in) {
    std::string address = ReplyToAddress(in);
    if (!address.empty()) {
        Check(address.size() <= 254 && address.find('@') != std::string::npos);
        for (char c : address) Check(static_cast<unsigned char>(c) > 0x20 && c != 0x7F && std::string("<>,;\"%\\").find(c) == std::string::npos);
    }
    bool high = false;
    for (char c : in) high = high || static_cast<unsigned char>(c) >= 0x80;
    for (const char* charset : {"utf-8", "iso-8859-1"}) {
        std::string words = EncodeHeaderWords(in, charset);
        if (!high) Check(words == in);  // plain ASCII stays as it is
        else
            for (char c : words) Check(static_cast<unsigned char>(c) >= 0x20 && static_cast<unsigned char>(c) < 0x7F);
    }
}

// A client address becomes one field of the counts file's line: no blank, no control byte.
void CheckRateKey(const std::string& in) {
    for (int prefix : {1, 64, 128}) {
        std::string key = RateLimitKey(in, prefix);
        Check(!key.empty() && key.size() <= 64 + 4);
        for (char c : key) Check(static_cast<unsigned char>(c) > 0x20 && static_cast<unsigned char>(c) < 0x7F);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string in(reinterpret_cast<const char*>(data), size);
    CheckJson(in);
    CheckHeaders(in);
    AcceptPrefersJson(in);
    CheckRateKey(in);
    return 0;
}
