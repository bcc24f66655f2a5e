// TFastCGIEngine's side of the request: variables from the FastCGI parameters by friendly or CGI
// name, the body as it arrived in full (never more than CONTENT_LENGTH announces), form fields.
#include <algorithm>
#include <cstring>

#include "CgiVariableName.h"
#include "FastCgiEng.h"
#include "FcgiConnection.h"
#include "FormData.h"

namespace velmora {

std::string TFastCGIEngine::GetVariable(const std::string& name) {
    const TFastCGIRequestState& st = FastCGIRequestState();
    if (!st.Request) return std::string();
    const std::string* value = st.Request->Param(CgiVariableName(name));
    return value ? *value : std::string();
}

// A body kept above its limit was read away: asked for anyway (the limit changed meanwhile), it
// counts as broken rather than as an empty form.
int TFastCGIEngine::ReadClient(void* buffer, int count) {
    TFastCGIRequestState& st = FastCGIRequestState();
    if (!st.Request || count <= 0) return 0;
    const long long left = st.Request->ContentLength - st.BodyBytesRead;
    if (left <= 0) return 0;
    const long long have = static_cast<long long>(st.Request->Body.size()) - st.BodyBytesRead;
    const int got = static_cast<int>(std::max(0LL, std::min<long long>({count, left, have})));
    if (got > 0) std::memcpy(buffer, st.Request->Body.data() + st.BodyBytesRead, static_cast<size_t>(got));
    st.BodyBytesRead += got;
    if (got < std::min<long long>(count, left)) st.BodyBroken = true;
    return got;
}

std::string TFastCGIEngine::GetFormField(const std::string& name, const std::string& def) {
    return FindFormValueIndexed(name, FastCGIRequestState().FormData, def);
}

std::unique_ptr<TStringList> TFastCGIEngine::GetFormFieldNames() {
    return ParseFormFieldNames(FastCGIRequestState().FormData);
}

}  // namespace velmora
