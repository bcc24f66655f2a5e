// The ISAPI entry points. Each starts the library on first use, sets the calling thread's request
// state and hands the call to the engine; no exception ever crosses back into the server.
#include "Isapiexp.h"

#include <cstring>

#include "IsapiEng.h"
#include "LibraryStart.h"

using namespace velmora;

namespace {

constexpr DWORD kInterfaceVersion = 0x20000;  // major 2, minor 0
const char* const kExtensionDesc = "QUORVEN 4.0.1";
const char* const kNoEngine = "No ISAPI engine: the library could not start";

// Copies text into a server's fixed field, cut to capacity - 1 bytes and always terminated.
void CopyField(char* field, size_t capacity, const std::string& text) {
    size_t n = std::min(text.size(), capacity - 1);
    std::memcpy(field, text.data(), n);
    field[n] = '\0';
}

// The engine, made by the application's start on the first call of any entry point.
TISAPIEngine* Engine() {
    StartLibrary();
    return IsapiEngine;
}

// Logs the failure of an entry point and gives its message; what is not ours is named as such.
std::string ReportFailure() {
    std::string message;
    try {
        throw;
    } catch (const Exception& e) {
        message = e.Message();
    } catch (const std::exception& e) {
        message = e.what();
    } catch (...) {
        message = "Unknown exception";
    }
    WriteLog(message);
    return message;
}

DWORD FailRequest(EXTENSION_CONTROL_BLOCK* ecb, const std::string& message) {
    CopyField(ecb->lpszLogData, HSE_LOG_BUFFER_LEN, message);
    return HSE_STATUS_ERROR;
}

}  // namespace

BOOL GetExtensionVersion(HSE_VERSION_INFO* pVer) {
    TISAPIEngine* engine = Engine();
    if (!pVer || !engine) {
        WriteLog(kNoEngine);
        return 0;
    }
    uint32_t version = kInterfaceVersion;
    std::string desc = kExtensionDesc;
    bool result = true;
    try {
        if (engine->OnHttpExtensionVersion) engine->OnHttpExtensionVersion(version, desc, result);
    } catch (...) {
        ReportFailure();
        result = false;
    }
    pVer->dwExtensionVersion = version;
    CopyField(pVer->lpszExtensionDesc, HSE_MAX_EXT_DLL_NAME_LEN, desc);
    return result ? 1 : 0;
}

DWORD HttpExtensionProc(EXTENSION_CONTROL_BLOCK* pECB) {
    if (!pECB) return HSE_STATUS_ERROR;
    TISAPIEngine* engine = Engine();
    TISAPIRequestState& st = ISAPIRequestState();
    st.CurrentECB = pECB;
    st.CurrentFilterContext = nullptr;
    st.HeldHeader.clear();
    st.HeaderPassed = false;
    if (!engine) {
        pECB->dwHttpStatusCode = 500;
        return FailRequest(pECB, kNoEngine);
    }
    if (!engine->OnExecRequest) return HSE_STATUS_SUCCESS;
    DWORD status = HSE_STATUS_SUCCESS;
    try {
        engine->HandleRequest();
    } catch (...) {
        status = FailRequest(pECB, ReportFailure());
    }
    // The block is the server's and ends with the call; the form data goes with it.
    st.CurrentECB = nullptr;
    st.FormData.clear();
    return status;
}

BOOL TerminateExtension(DWORD) {
    TISAPIEngine* engine = IsapiEngine;
    try {
        if (engine && engine->OnLastExecRequest) engine->OnLastExecRequest(nullptr);
    } catch (...) {
        ReportFailure();
        return 1;
    }
    return 0;
}

BOOL GetFilterVersion(HTTP_FILTER_VERSION* pVer) {
    TISAPIEngine* engine = Engine();
    if (!pVer || !engine) {
        WriteLog(kNoEngine);
        return 0;
    }
    try {
        engine->MakeCurrent();
        bool result = true;
        pVer->dwFlags = 0;
        pVer->dwFilterVersion = kInterfaceVersion;
        if (engine->OnHttpFilterVersion) {
            std::string desc;
            engine->OnHttpFilterVersion(pVer->dwServerFilterVersion, pVer->dwFilterVersion, desc, pVer->dwFlags, result);
            CopyField(pVer->lpszFilterDesc, SF_MAX_FILTER_DESC_LEN, desc);
        }
        return result ? 1 : 0;
    } catch (...) {
        ReportFailure();
        return 0;
    }
}

DWORD HttpFilterProc(HTTP_FILTER_CONTEXT* pfc, DWORD notificationType, void* pvNotification) {
    DWORD result = SF_STATUS_REQ_NEXT_NOTIFICATION;
    TISAPIEngine* engine = Engine();
    if (!engine || !pfc) return result;
    engine->MakeCurrent();
    TISAPIRequestState& st = ISAPIRequestState();
    st.FilterNotification = notificationType;
    st.CurrentFilterContext = pfc;
    st.CurrentECB = nullptr;
    try {
        if (notificationType == SF_NOTIFY_READ_RAW_DATA && pvNotification) {
            auto* raw = static_cast<HTTP_FILTER_RAW_DATA*>(pvNotification);
            TRawRequestScan scan = ScanRawRequest(static_cast<const char*>(raw->pvInData), raw->cbInData);
            st.FormData = scan.FormData;
            // Replaced on every request, so no request sees the cookie of one before it.
            st.CapturedCookie = scan.Cookie;
        }
        if (engine->OnHttpFilterProc) engine->OnHttpFilterProc(*pfc, notificationType, pvNotification, result);
    } catch (...) {
        ReportFailure();
    }
    st.CurrentFilterContext = nullptr;
    return result;
}
