// A test host for ISAPI libraries: loads one with dlopen and calls its entry points the way a web
// server does, backing the server callbacks with a request it is given; any thread may call it.
#pragma once

#include <map>
#include <string>

#include "IsapiTypes.h"

namespace velmora::test {

struct HostRequest {
    std::string Method = "POST";
    std::string Query;
    std::string ContentType = "application/x-www-form-urlencoded";
    std::string Body;
    size_t Preloaded = SIZE_MAX;             // body bytes handed over in the block; the rest by ReadClient
    std::map<std::string, std::string> Variables;  // server variables besides CONTENT_TYPE
};

struct HostAnswer {
    DWORD Status = 0;
    std::string Written;    // every byte the library gave WriteClient
    std::string FirstWrite; // what the first WriteClient call gave (servers parse headers from it)
    std::string Redirect;   // the target of a redirect through the support function
    std::string LogData;    // lpszLogData as the library left it
    int ReadCalls = 0;      // ReadClient calls the library made
};

class IsapiHost {
public:
    // Loads the library; throws when it cannot be loaded or lacks an entry point.
    explicit IsapiHost(const std::string& libraryPath);

    BOOL ExtensionVersion(HSE_VERSION_INFO& info) const { return FGetExtensionVersion(&info); }
    HostAnswer Extension(const HostRequest& request) const;
    BOOL TerminateExtension() const { return FTerminateExtension(0); }
    BOOL FilterVersion(HTTP_FILTER_VERSION& version) const { return FGetFilterVersion(&version); }
    // One notification; raw is the notification's raw data where it has one. What the library
    // wrote to the client goes to written.
    DWORD Filter(DWORD notification, const std::string& raw, const std::map<std::string, std::string>& variables,
                 std::string& written) const;

private:
    BOOL (*FGetExtensionVersion)(HSE_VERSION_INFO*) = nullptr;
    DWORD (*FHttpExtensionProc)(EXTENSION_CONTROL_BLOCK*) = nullptr;
    BOOL (*FTerminateExtension)(DWORD) = nullptr;
    BOOL (*FGetFilterVersion)(HTTP_FILTER_VERSION*) = nullptr;
    DWORD (*FHttpFilterProc)(HTTP_FILTER_CONTEXT*, DWORD, void*) = nullptr;
};

}  // namespace velmora::test
