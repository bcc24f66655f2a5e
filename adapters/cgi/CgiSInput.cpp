// TCGIStdEngine's side of the request: variables by friendly or CGI name, the body read from
// standard input (exactly CONTENT_LENGTH bytes, never waiting for the end of input), form fields.
#include <algorithm>

#include "CgiSEng.h"
#include "CgiVariableName.h"
#include "EnvPaths.h"
#include "FormData.h"

namespace velmora {

namespace {

// The value of key in NAME=VALUE lines, the name matched without regard to case.
std::string FindEnvironmentLine(const TStringList& lines, const std::string& key) {
    const std::string prefix = key + "=";
    for (const std::string& line : lines)
        if (line.size() >= prefix.size() && UpperCase(line.substr(0, prefix.size())) == prefix)
            return line.substr(prefix.size());
    return std::string();
}

}  // namespace

std::string TCGIStdEngine::GetVariable(const std::string& name) {
    const std::string key = CgiVariableName(name);
    const TCGIRequestState& st = CGIRequestState();
    if (st.RequestEnvironment) return FindEnvironmentLine(*st.RequestEnvironment, key);
    return GetEnv(key);
}

std::string TCGIStdEngine::ReadContent() {
    if (!CGIRequestState().InputStream) return std::string();
    return ReadBodyOrQuery();
}

int TCGIStdEngine::ReadClient(void* buffer, int count) {
    TCGIRequestState& st = CGIRequestState();
    TStream* in = st.InputStream.get();
    if (!in || count <= 0) return 0;
    const int got = static_cast<int>(in->Read(buffer, count));
    st.BodyBytesRead += got;
    return got;
}

// Reads and drops what is left of the announced body. A web server still writing a body that the
// program never read (one above AutoReadLimit, say) gets a broken pipe when the program ends, and
// Apache then may lose the answer it was sent; reading the rest first lets it finish. Stops at
// the end of input, so a CONTENT_LENGTH larger than the body never makes it wait.
void TCGIStdEngine::DiscardUnreadBody() {
    TCGIRequestState& st = CGIRequestState();
    int length = 0;
    if (!st.InputStream || !TryStrToInt(GetVariable("CONTENT_LENGTH"), length)) return;
    char sink[65536];
    long long remaining = length - st.BodyBytesRead;
    while (remaining > 0) {
        const int want = static_cast<int>(std::min<long long>(remaining, sizeof sink));
        const int got = ReadClient(sink, want);
        if (got <= 0) break;
        remaining -= got;
    }
}

std::string TCGIStdEngine::GetFormField(const std::string& name, const std::string& def) {
    return FindFormValueIndexed(name, CGIRequestState().FormData, def);
}

std::unique_ptr<TStringList> TCGIStdEngine::GetFormFieldNames() {
    return ParseFormFieldNames(CGIRequestState().FormData);
}

}  // namespace velmora
