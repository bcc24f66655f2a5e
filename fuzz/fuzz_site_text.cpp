// Fuzz target for the text a hostile client hands the site options: whatever the bytes, a JSON
// string stays one valid JSON string, a Reply-To is one harmless address or nothing, an encoded
// subject is printable ASCII, a client address one blank-free field of the rate counts, a recipient
// passes the allowed list only as a listed address or domain, a redirect never leaves for a
// host a browser would read from "//" or "\\", and a store address names a server or is refused.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "AllowedList.h"
#include "FormRules.h"
#include "JsonText.h"
#include "MailHeaders.h"
#include "RateLimit.h"
#include "RedisAddress.h"
#include "SysUtils.h"

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

// A recipient is allowed only as one bare address, and only by an entry naming it or its domain.
void CheckAllowedList(const std::string& in) {
    const size_t split = in.find('\n');
    const std::string line = in.substr(0, split), address = split == std::string::npos ? "" : in.substr(split + 1);
    if (!AllowedByLine(line, address)) return;
    const std::string a = LowerCase(Trim(address));
    const size_t at = a.find('@');
    Check(at != std::string::npos && at > 0 && a.find('@', at + 1) == std::string::npos);
    for (char c : a) Check(static_cast<unsigned char>(c) > 0x20 && std::string(",;<>\"()[]\\:").find(c) == std::string::npos);
    bool named = false;
    for (const std::string& entry : AllowedListEntries(line)) {
        const std::string e = LowerCase(entry);
        if (!AllowedByEntry(entry, address)) continue;
        Check(IsAllowedListEntry(entry));
        named = named || e == a || (e[0] == '@' && a.compare(at, std::string::npos, e) == 0) ||
                a.compare(at + 1, std::string::npos, e) == 0;
    }
    Check(named);
}

// No redirect the form names may leave the site's hosts through a path a browser reads as
// another host ("//", "\\", "/\"), and a list of hosts only ever narrows what is followed.
void CheckRedirect(const std::string& in) {
    const bool any = IsAllowedRedirect(in, "");
    if (IsAllowedRedirect(in, "shop.example")) Check(any);
    if (!any) return;
    const std::string u = Trim(in);
    Check(u.rfind("//", 0) != 0 && u.rfind("\\", 0) != 0 && u.rfind("/\\", 0) != 0);
    for (char c : in) Check(static_cast<unsigned char>(c) >= 0x20 && c != 0x7F);
}

}  // namespace

// The store address: read into a server that exists (a host or an absolute socket path, port and
// database in range), or refused with a reason.
void CheckStoreAddress(const std::string& in) {
    for (const std::string& url : {in, "redis://" + in, "redis+unix://" + in}) {
        TRedisAddress a;
        std::string why;
        if (!ParseRedisAddress(url, a, why)) {
            Check(!why.empty());
            continue;
        }
        Check(a.Host.empty() != a.UnixPath.empty());
        Check(a.UnixPath.empty() || a.UnixPath[0] == '/');
        Check(a.Port >= 1 && a.Port <= 65535 && a.Db >= 0 && a.Db <= 65535);
    }
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string in(reinterpret_cast<const char*>(data), size);
    CheckJson(in);
    CheckHeaders(in);
    AcceptPrefersJson(in);
    CheckRateKey(in);
    CheckAllowedList(in);
    CheckRedirect(in);
    CheckStoreAddress(in);
    return 0;
}
