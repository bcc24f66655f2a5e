// The five ISAPI entry points a web server calls in the library: the extension's version, request
// and terminate calls and the filter's version and notification calls, all handed to IsapiEngine.
#pragma once

#include "IsapiTypes.h"

// The only symbols the library shows its host; everything else is hidden.
#define VELMORA_EXPORT extern "C" __attribute__((visibility("default")))

VELMORA_EXPORT velmora::BOOL GetExtensionVersion(velmora::HSE_VERSION_INFO* pVer);
VELMORA_EXPORT velmora::DWORD HttpExtensionProc(velmora::EXTENSION_CONTROL_BLOCK* pECB);
VELMORA_EXPORT velmora::BOOL TerminateExtension(velmora::DWORD dwFlags);
VELMORA_EXPORT velmora::BOOL GetFilterVersion(velmora::HTTP_FILTER_VERSION* pVer);
VELMORA_EXPORT velmora::DWORD HttpFilterProc(velmora::HTTP_FILTER_CONTEXT* pfc, velmora::DWORD notificationType,
                                             void* pvNotification);
