// TFastCGIEngine's side of the request: variables from the FastCGI parameters by friendly or CGI
// name, the body from the input stream (never more than CONTENT_LENGTH announces), form fields.
#include <fcgiapp.h>

#include <algorithm>

#include "CgiSEng.h"
#include "FastCgiEng.h"
#include "FormData.h"

namespace velmora {

namespace {

// Input beyond the announced body that is still read away at the end of a request, so that the
// server can finish sending; a peer sending more than this loses its connection instead.
constexpr long long kMaxDiscard = 256LL << 20;

}  // namespace

std::string TFastCGIEngine::GetVariable(const std::string& name) {
    const TFastCGIRequestState& st = FastCGIRequestState();
    if (!st.Request || !st.Request->envp) return std::string();
    const char* value = FCGX_GetParam(CgiVariableName(name).c_str(), st.Request->envp);
    return value ? std::string(value) : std::string();
}

// A body larger than announced is cut at the announced length: what follows is never form data.
int TFastCGIEngine::ReadClient(void* buffer, int count) {
    TFastCGIRequestState& st = FastCGIRequestState();
    if (!st.Request || !st.Request->in || count <= 0) return 0;
    const long long left = st.BodyLength - st.BodyBytesRead;
    if (left <= 0) return 0;
    const int want = static_cast<int>(std::min<long long>(count, left));
    const int got = std::max(0, FCGX_GetStr(static_cast<char*>(buffer), want, st.Request->in));
    st.BodyBytesRead += got;
    if (got < want) st.BodyBroken = true;
    return got;
}

bool TFastCGIEngine::DiscardUnreadInput() {
    TFastCGIRequestState& st = FastCGIRequestState();
    if (!st.Request || !st.Request->in) return false;
    char sink[16384];
    for (long long dropped = 0; dropped <= kMaxDiscard;) {
        const int got = FCGX_GetStr(sink, sizeof sink, st.Request->in);
        if (got <= 0) return FCGX_GetError(st.Request->in) == 0;
        dropped += got;
    }
    return false;
}

std::string TFastCGIEngine::GetFormField(const std::string& name, const std::string& def) {
    return FindFormValueIndexed(name, FastCGIRequestState().FormData, def);
}

std::unique_ptr<TStringList> TFastCGIEngine::GetFormFieldNames() {
    return ParseFormFieldNames(FastCGIRequestState().FormData);
}

}  // namespace velmora
