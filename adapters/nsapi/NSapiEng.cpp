// TNSAPIEngine's life and the run of one request: construction, the binding at load, the request
// data read from the server's structures, and the request events.
#include "NSapiEng.h"

#include "FormData.h"
#include "NsapiBinding.h"

namespace velmora {

std::atomic<bool> NsapiActive{false};
std::atomic<TNSAPIEngine*> NsapiEngine{nullptr};

namespace {

// Loaded into the server, the binding is made when the library starts, before any request.
[[maybe_unused]] const bool kServerBound = [] {
    nsapi::BindServerLibrary();
    return true;
}();

}  // namespace

TNsapiRequestState& NsapiRequestState() noexcept {
    thread_local TNsapiRequestState state;
    return state;
}

TNSAPIEngine::TNSAPIEngine(TComponent* owner) : THttpEngine(owner) {
    NsapiEngine = this;
    if (NsapiActive && !Designing()) MakeCurrent();
    // The server sends the header block itself when the engine ends the headers; a buffered
    // answer therefore holds only the body.
    FHeadersThroughServer = true;
}

TNSAPIEngine::~TNSAPIEngine() {
    TNSAPIEngine* self = this;
    NsapiEngine.compare_exchange_strong(self, nullptr);
}

bool TNSAPIEngine::IsActive() { return NsapiActive; }

// The server serves on many threads and keeps the process alive, so OnLastExecRequest, which a
// CGI program raises before it ends, is never raised here.
void TNSAPIEngine::ExecRequest() {
    if (!nsapi::BoundFunction(nsapi::FunctionIndex("net_write"))) nsapi::BindServerLibrary();
    NsapiRequestState().FormData = ReadRequestData();
    RaiseRequestEvents(false);
}

void TNSAPIEngine::EndRequest() { THttpEngine::EndRequest(); }

// A GET's data is its query; a POST's its body; any other method has none. The query of a POST
// is not added to its body.
std::string TNSAPIEngine::ReadRequestData() {
    const std::string method = GetRequestMethod();
    if (method == "GET") return GetQueryString();
    if (method == "POST") return ReadPostedData();
    return std::string();
}

std::string TNSAPIEngine::ReadPostedData() {
    // Not a number: EConvertError, which HandleRequest reports as the request's error.
    const std::string lengthText = GetVariable("content-length");
    const int length = lengthText.empty() ? 0 : StrToInt(lengthText);
    if (length > ReadLimit()) {
        NoteBodyOverLimit();
        return std::string();
    }
    if (length <= 0 || !AutoReadInput) return std::string();
    std::string data;
    if (Contains(UpperCase(GetVariable("CONTENT_TYPE")), "MULTIPART/FORM-DATA;")) {
        ReadMultipartData(data);
        return data;
    }
    // At most AutoReadLimit bytes; the text ends at the end of input or at a zero byte.
    data.resize(static_cast<size_t>(length));
    data.resize(static_cast<size_t>(ReadClient(data.data(), length)));
    const size_t zero = data.find('\0');
    if (zero != std::string::npos) data.resize(zero);
    return data;
}

std::string TNSAPIEngine::GetFormField(const std::string& name, const std::string& def) {
    return FindFormValueIndexed(name, NsapiRequestState().FormData, def);
}

std::unique_ptr<TStringList> TNSAPIEngine::GetFormFieldNames() {
    return ParseFormFieldNames(NsapiRequestState().FormData);
}

}  // namespace velmora
