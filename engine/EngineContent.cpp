// THttpEngine::ReadBodyOrQuery: the form data of a request by the CGI rules, shared by the engines
// whose server hands over a CGI environment and a body stream (standard CGI, FastCGI); the body
// reading under it, with its refusal of a body shorter than announced, serves ISAPI as well.
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
        NoteBodyOverLimit();
        return std::string();
    }
    if (!AutoReadInput) return std::string();
    return ReadAnnouncedBody(length);
}

std::string THttpEngine::ReadAnnouncedBody(int length) {
    TRequestState& rs = RequestState();
    rs.BodyBytesCounted = 0;
    std::string data;
    if (Contains(UpperCase(GetVariable("CONTENT_TYPE")), "MULTIPART/FORM-DATA;")) ReadMultipartData(data);
    else data = ReadUrlEncodedBody(length);
    // A visitor who gave up, or a peer that announced more than it sent: the fields that came
    // are not the form, and thanking for them would report a lost post as received.
    if (rs.BodyBytesCounted < length)
        throw EBodyEndedShort("Request body ended after " + std::to_string(rs.BodyBytesCounted) + " of " +
                              std::to_string(length) + " announced bytes: request refused, nothing run");
    return data;
}

void THttpEngine::NoteBodyOverLimit() {
    WriteLog("Content length exceeds AutoReadLimit");
    RequestState().BodyOverLimit = true;
}

int THttpEngine::ReadCounted(void* buffer, int count) {
    const int got = ReadClient(buffer, count);
    if (got > 0) RequestState().BodyBytesCounted += std::min(got, count);
    return got;
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
        const long got = std::max(0, ReadCounted(body.data() + old, static_cast<int>(want)));
        body.resize(old + static_cast<size_t>(got));
        if (got < want) break;
        remaining -= got;
    }
    const size_t zero = body.find('\0');
    if (zero != std::string::npos) body.resize(zero);
    return body;
}

}  // namespace velmora
