// ScanRawRequest: what a filter learns from the raw request bytes before the server parses them:
// the query of the request line, a url-encoded post body, and the cookie header.
#include <cstring>

#include "IsapiEng.h"
#include "System.h"

namespace velmora {

namespace {

constexpr size_t kCookieLimit = 4096;

bool StartsWithUpper(const std::string& line, const char* prefix) {
    size_t n = std::strlen(prefix);
    return line.size() >= n && UpperCase(line.substr(0, n)) == prefix;
}

}  // namespace

// The bytes are read up to the first zero byte or size, whichever comes first.
TRawRequestScan ScanRawRequest(const char* raw, size_t size) {
    TRawRequestScan scan;
    const size_t end = raw ? strnlen(raw, size) : 0;
    bool isPost = false, isUrlencoded = false, first = true;
    size_t pos = 0;
    while (pos < end) {
        size_t lf = std::string_view(raw + pos, end - pos).find('\n');
        size_t lineEnd = lf == std::string_view::npos ? end : pos + lf;
        std::string line = Trim(std::string(raw + pos, lineEnd - pos));
        if (lineEnd == pos) break;
        if (first) {
            isPost = StartsWithUpper(line, "POST");
            size_t q = line.find('?', 1);
            if (q != std::string::npos) {
                std::string query = line.substr(q + 1);
                scan.FormData = query.substr(0, query.find(' '));
            }
            first = false;
        } else if (StartsWithUpper(line, "CONTENT-TYPE:")) {
            isUrlencoded = Contains(UpperCase(line), "URLENCODED");
        }
        if (StartsWithUpper(line, "COOKIE:")) {
            scan.Cookie = TrimLeft(line.substr(7, kCookieLimit));
        }
        pos = lineEnd < end ? lineEnd + 1 : end;
        if (!isPost || pos >= end || raw[pos] == '\r' || raw[pos] == '\n') break;
    }
    if (isPost && isUrlencoded) {
        std::string body = Trim(std::string(raw + pos, end - pos));
        if (!body.empty()) scan.FormData = scan.FormData.empty() ? body : body + "&" + scan.FormData;
    }
    return scan;
}

}  // namespace velmora
