// Upload file names. Only the client name's last component is used, and a random number always
// leads it, so no client name ("../../x", "C:\x", "..", "") can place a file outside TempDir.
#include "UploadFileName.h"

#include <algorithm>

#include "EnvPaths.h"
#include "Files.h"
#include "SysUtils.h"
#include "System.h"

namespace velmora {

namespace {

// Room for the number (7 digits) and ".tmp" within a file name's 255 bytes, with a margin.
constexpr size_t kMaxNameTail = 200;
// A name already in use (another request's upload, a file an attacker placed) is not replaced;
// after this many draws the last one is used as it is.
constexpr int kNameAttempts = 10;

}  // namespace

std::string ClientFileNameTail(const std::string& clientName) {
    size_t p = clientName.find_last_of("/\\:");
    return p == std::string::npos ? clientName : clientName.substr(p + 1);
}

std::string NewUploadFileName(const std::string& tempDir, const std::string& clientName) {
    std::string tail = ClientFileNameTail(clientName);
    tail.resize(std::min({tail.size(), tail.find('.'), kMaxNameTail}));
    std::string path;
    for (int attempt = 0; attempt < kNameAttempts; ++attempt) {
        path = BuildFileName(ModuleFileName(), tempDir, false, "tmp", false, IntToStr(Random(9000000)) + tail);
        if (!FileExists(path)) break;
    }
    return path;
}

}  // namespace velmora
