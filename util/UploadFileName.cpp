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
// Draws before giving up: with nine million numbers, only a TempDir flooded with planted names
// runs out of them.
constexpr int kNameAttempts = 100;

}  // namespace

std::string ClientFileNameTail(const std::string& clientName) {
    size_t p = clientName.find_last_of("/\\:");
    return p == std::string::npos ? clientName : clientName.substr(p + 1);
}

TUploadFile CreateUploadFile(const std::string& tempDir, const std::string& clientName) {
    std::string tail = ClientFileNameTail(clientName);
    tail.resize(std::min({tail.size(), tail.find('.'), kMaxNameTail}));
    TUploadFile upload;
    for (int attempt = 0; attempt < kNameAttempts; ++attempt) {
        upload.Path = BuildFileName(ModuleFileName(), tempDir, false, "tmp", false, IntToStr(Random(9000000)) + tail);
        upload.Stream = TFileStream::CreateNew(upload.Path);
        if (upload.Stream) return upload;
    }
    throw EFCreateError("Cannot create an upload file in \"" + tempDir + "\": every name drawn is in use");
}

}  // namespace velmora
