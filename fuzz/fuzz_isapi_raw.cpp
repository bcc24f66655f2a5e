// libFuzzer target: the raw bytes of a request as a filter sees them, scanned for the query, a
// url-encoded post body and the cookie. The results must stay within the input and its limits.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "IsapiEng.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const char* raw = reinterpret_cast<const char*>(data);
    velmora::TRawRequestScan scan = velmora::ScanRawRequest(raw, size);
    if (scan.Cookie.size() > 4096 || scan.FormData.size() > size + 1) std::abort();
    return 0;
}
