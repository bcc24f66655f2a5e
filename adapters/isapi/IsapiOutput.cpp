// TISAPIEngine's answer path: text and bytes to the server's WriteClient of the extension request
// or filter notification, and a Location header turned into the server's own redirect.
#include "IsapiEng.h"

#include "System.h"

namespace velmora {

namespace {

// A redirect target goes into the server's response header: a line break or a zero byte in it
// would end that header early and let the rest become header lines of the client's choosing.
bool IsHeaderSafe(const std::string& value) {
    for (char c : value)
        if (c == '\r' || c == '\n' || c == '\0') return false;
    return true;
}

bool HasHeaderEnd(const std::string& s) {
    return s.find("\r\n\r\n") != std::string::npos || s.find("\n\n") != std::string::npos;
}

}  // namespace

// A client that has gone away loses the rest of the answer; the request still ends normally.
void TISAPIEngine::SendToClient(const void* data, DWORD count) {
    TISAPIRequestState& st = ISAPIRequestState();
    if (count == 0) return;
    void* bytes = const_cast<void*>(data);
    if (EXTENSION_CONTROL_BLOCK* ecb = st.CurrentECB) {
        if (!st.HeaderPassed) {
            st.HeldHeader.append(static_cast<const char*>(data), count);
            if (HasHeaderEnd(st.HeldHeader)) ReleaseHeldHeader();
            return;
        }
        ecb->WriteClient(ecb->ConnID, bytes, &count, 0);
    } else if (THTTP_FILTER_CONTEXT* pfc = st.CurrentFilterContext) {
        pfc->WriteClient(pfc, bytes, &count, 0);
    }
}

void TISAPIEngine::ReleaseHeldHeader() {
    TISAPIRequestState& st = ISAPIRequestState();
    st.HeaderPassed = true;
    std::string held = std::move(st.HeldHeader);
    st.HeldHeader.clear();
    EXTENSION_CONTROL_BLOCK* ecb = st.CurrentECB;
    DWORD count = static_cast<DWORD>(held.size());
    if (ecb && count > 0) ecb->WriteClient(ecb->ConnID, held.data(), &count, 0);
}

void TISAPIEngine::Write(const std::string& s) {
    TISAPIRequestState& st = ISAPIRequestState();
    if (!st.CurrentECB) {
        // Text written while the server sends raw data would pass through that same notification
        // again, so it is dropped there; in every other notification it goes to the client.
        if (st.CurrentFilterContext && st.FilterNotification != SF_NOTIFY_SEND_RAW_DATA)
            SendToClient(s.data(), static_cast<DWORD>(s.size()));
        return;
    }
    THttpEngine::Write(s);
    if (IsDirectOutput()) SendToClient(s.data(), static_cast<DWORD>(s.size()));
}

// In a filter call no automatic header is written: the server's own response carries the bytes.
void TISAPIEngine::WriteBuffer(const void* buffer, int count) {
    TISAPIRequestState& st = ISAPIRequestState();
    if (count <= 0) return;
    if (!st.CurrentECB) {
        if (st.CurrentFilterContext) SendToClient(buffer, static_cast<DWORD>(count));
        return;
    }
    THttpEngine::WriteBuffer(buffer, count);
    if (IsDirectOutput()) SendToClient(buffer, static_cast<DWORD>(count));
}

void TISAPIEngine::WriteHeader(const std::string& name, const std::string& value) {
    EXTENSION_CONTROL_BLOCK* ecb = ISAPIRequestState().CurrentECB;
    if (!ecb) return;
    if (UpperCase(name) != "LOCATION") {
        THttpEngine::WriteHeader(name, value);
        return;
    }
    if (!IsHeaderSafe(value)) throw Exception("Redirect target refused: it holds a line break or a zero byte");
    // The whole target, however long: the server copies it into its own response.
    std::string target = value;
    DWORD size = static_cast<DWORD>(target.size());
    DWORD dataType = 0;
    RequestState().HeaderSent = true;
    ecb->ServerSupportFunction(ecb->ConnID, HSE_REQ_SEND_URL_REDIRECT_RESP, target.data(), &size, &dataType);
}

}  // namespace velmora
