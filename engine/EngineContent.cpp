// THttpEngine::ReadBodyOrQuery: the form data of a request by the CGI rules, shared by the engines
// whose server hands over a CGI environment and a body stream (standard CGI, FastCGI).
#include <algorithm>

#include "HttpEng.h"
#include "System.h"

namespace velmora {

std::string THttpEngine::ReadBodyOrQuery() {
    const std::string lengthText = GetVariable("CONTENT_LENGTH");
    // Not a number: EConvertError, which HandleRequest reports.
    const int length = lengthText.empty() ? 0 : StrToInt(lengthText);
    if (length <= 0) return GetQueryString();
    if (length > ReadLimit()) {
        WriteLog("Content length exceeds AutoReadLimit");
        return std::string();
    }
    if (!AutoReadInput) return std::string();
    if (Contains(UpperCase(GetVariable("CONTENT_TYPE")), "MULTIPART/FORM-DATA;")) {
        std::string data;
        ReadMultipartData(data);
        return data;
    }
    return ReadUrlEncodedBody(length);
}

// Reads at most length bytes, in slices, so that a CONTENT_LENGTH larger than the body costs no
// memory beyond what arrives; the text ends at the end of input or at a zero byte.
std::string THttpEngine::ReadUrlEncodedBody(int length) {
    constexpr long kSlice = 65536;
    std::string body;
    long remaining = length;
    while (remaining > 0) {
        const long want = std::min(remaining, kSlice);
        const size_t old = body.size();
        body.resize(old + static_cast<size_t>(want));
        const long got = std::max(0, ReadClient(body.data() + old, static_cast<int>(want)));
        body.resize(old + static_cast<size_t>(got));
        if (got < want) break;
        remaining -= got;
    }
    const size_t zero = body.find('\0');
    if (zero != std::string::npos) body.resize(zero);
    return body;
}

}  // namespace velmora
