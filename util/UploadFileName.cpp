// Upload file names. Only the client name's last component is used, and a random number always
// leads it, so no client name ("../../x", "C:\x", "..", "") can place a file outside TempDir.
#include "UploadFileName.h"

#include <algorithm>
#include <chrono>

#include "EnvPaths.h"
#include "ExclusiveFile.h"
#include "Files.h"
#include "SysUtils.h"
#include "System.h"

namespace velmora {

namespace {

// Room for the number (7 digits) and ".tmp" within a file name's 255 bytes, with a margin.
constexpr size_t kMaxNameTail = 200;
// A client file name the form data keeps, as long as most file systems allow one; an extension
// of up to 16 bytes survives the cut.
constexpr size_t kMaxClientName = 255;
constexpr size_t kMaxExtension = 16;
// Draws before giving up: with nine million numbers, only a TempDir flooded with planted names
// runs out of them.
constexpr int kNameAttempts = 100;

// An upload older than this belongs to no running request: a request ends within minutes.
constexpr int64_t kStaleUploadNs = int64_t{3600} * 1000000000;
constexpr size_t kSweepEntries = 2000;

// The folder upload files of tempDir go to, with its trailing "/".
std::string UploadFolder(const std::string& tempDir) {
    return ExtractFilePath(BuildFileName(ModuleFileName(), tempDir, false, "tmp", false, "0"));
}

}  // namespace

std::string ClientFileNameTail(const std::string& clientName) {
    size_t p = clientName.find_last_of("/\\:");
    return p == std::string::npos ? clientName : clientName.substr(p + 1);
}

std::string ShortClientFileName(const std::string& clientName) {
    if (clientName.size() <= kMaxClientName) return clientName;
    std::string name = ClientFileNameTail(clientName);
    if (name.size() <= kMaxClientName) return name;
    const size_t dot = name.rfind('.');
    const std::string ext = dot != std::string::npos && name.size() - dot <= kMaxExtension ? name.substr(dot) : "";
    size_t keep = kMaxClientName - ext.size();
    while (keep > 0 && (static_cast<unsigned char>(name[keep]) & 0xC0) == 0x80) --keep;  // not inside a character
    return name.substr(0, keep) + ext;
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

bool IsUploadFileName(const std::string& fileName) {
    size_t digits = 0;
    while (digits < fileName.size() && digits < 7 && fileName[digits] >= '0' && fileName[digits] <= '9') ++digits;
    return digits > 0 && fileName.size() > 4 && fileName.compare(fileName.size() - 4, 4, ".tmp") == 0 &&
           fileName.find('.') == fileName.size() - 4;
}

void PrepareUploadFolder(const std::string& tempDir) {
    if (!tempDir.empty()) CreatePrivateDir(UploadFolder(tempDir));
}

void SweepOldUploadFiles(const std::string& tempDir) {
    const std::string dir = UploadFolder(tempDir);
    const auto now = std::chrono::system_clock::now().time_since_epoch();
    const int64_t nowNs = std::chrono::duration_cast<std::chrono::nanoseconds>(now).count();
    for (const std::string& name : ListFolder(dir, kSweepEntries)) {
        if (!IsUploadFileName(name)) continue;
        TFileStamp stamp = GetFileStamp(dir + name);
        if (stamp.Regular && nowNs - stamp.ModifiedNs > kStaleUploadNs) DeleteFile(dir + name);
    }
}

}  // namespace velmora
