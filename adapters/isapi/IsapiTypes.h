// The ISAPI structures and values a web server hands an extension or filter library, declared
// here from the published interface: DWORD and BOOL are 32 bits, handles and pointers native.
#pragma once

#include <cstdint>

namespace velmora {

using DWORD = uint32_t;
using BOOL = int32_t;
using HCONN = void*;

constexpr DWORD HSE_STATUS_SUCCESS = 1;
constexpr DWORD HSE_STATUS_ERROR = 4;
constexpr DWORD HSE_REQ_SEND_URL_REDIRECT_RESP = 1;
constexpr int HSE_MAX_EXT_DLL_NAME_LEN = 256;
constexpr int HSE_LOG_BUFFER_LEN = 80;
constexpr int SF_MAX_FILTER_DESC_LEN = 257;
constexpr DWORD SF_STATUS_REQ_NEXT_NOTIFICATION = 0x8000002;
constexpr DWORD SF_NOTIFY_SEND_RAW_DATA = 0x400;
constexpr DWORD SF_NOTIFY_PREPROC_HEADERS = 0x4000;
constexpr DWORD SF_NOTIFY_READ_RAW_DATA = 0x8000;

struct HSE_VERSION_INFO {
    DWORD dwExtensionVersion;
    char lpszExtensionDesc[HSE_MAX_EXT_DLL_NAME_LEN];
};

struct EXTENSION_CONTROL_BLOCK {
    DWORD cbSize;
    DWORD dwVersion;
    HCONN ConnID;
    DWORD dwHttpStatusCode;
    char lpszLogData[HSE_LOG_BUFFER_LEN];
    char* lpszMethod;
    char* lpszQueryString;
    char* lpszPathInfo;
    char* lpszPathTranslated;
    DWORD cbTotalBytes;
    DWORD cbAvailable;
    unsigned char* lpbData;
    char* lpszContentType;
    BOOL (*GetServerVariable)(HCONN conn, char* name, void* buffer, DWORD* size);
    BOOL (*WriteClient)(HCONN conn, void* buffer, DWORD* bytes, DWORD reserved);
    BOOL (*ReadClient)(HCONN conn, void* buffer, DWORD* size);
    BOOL (*ServerSupportFunction)(HCONN conn, DWORD request, void* buffer, DWORD* size, DWORD* dataType);
};

struct HTTP_FILTER_VERSION {
    DWORD dwServerFilterVersion;
    DWORD dwFilterVersion;
    char lpszFilterDesc[SF_MAX_FILTER_DESC_LEN];
    DWORD dwFlags;
};

struct THTTP_FILTER_CONTEXT {
    DWORD cbSize;
    DWORD Revision;
    void* ServerContext;
    DWORD ulReserved;
    BOOL fIsSecurePort;
    void* pFilterContext;
    BOOL (*GetServerVariable)(THTTP_FILTER_CONTEXT* pfc, char* name, void* buffer, DWORD* size);
    BOOL (*AddResponseHeaders)(THTTP_FILTER_CONTEXT* pfc, char* headers, DWORD reserved);
    BOOL (*WriteClient)(THTTP_FILTER_CONTEXT* pfc, void* buffer, DWORD* bytes, DWORD reserved);
    void* (*AllocMem)(THTTP_FILTER_CONTEXT* pfc, DWORD size, DWORD reserved);
    BOOL (*ServerSupportFunction)(THTTP_FILTER_CONTEXT* pfc, int request, void* data, uintptr_t ul1, uintptr_t ul2);
};
using HTTP_FILTER_CONTEXT = THTTP_FILTER_CONTEXT;

struct HTTP_FILTER_RAW_DATA {
    void* pvInData;
    DWORD cbInData;
    DWORD cbInBuffer;
    DWORD dwReserved;
};

struct HTTP_FILTER_PREPROC_HEADERS {
    BOOL (*GetHeader)(THTTP_FILTER_CONTEXT* pfc, char* name, void* buffer, DWORD* size);
    BOOL (*SetHeader)(THTTP_FILTER_CONTEXT* pfc, char* name, char* value);
    BOOL (*AddHeader)(THTTP_FILTER_CONTEXT* pfc, char* name, char* value);
    DWORD HttpStatus;
    DWORD dwReserved;
};

}  // namespace velmora
