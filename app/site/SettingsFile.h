// The settings file VELMORA.INI as a whole: read it, create it, and change it under the lock that
// the program and the velmora-ini tool share, always leaving exactly one whole record behind.
#pragma once

#include <functional>
#include <optional>
#include <string>

#include "MailSettings.h"

namespace velmora {

// Called with the record read and the size in bytes of the file it came from; an exception
// thrown here leaves the file untouched.
using TSettingsChange = std::function<void(TMailSettings& settings, size_t fileSize)>;

// What UpdateSettingsFile found at the path.
enum class TSettingsFound { NoFile, NoRecord, Record };

struct TSettingsUpdate {
    TSettingsFound Found = TSettingsFound::NoFile;
    TMailSettings Settings;  // the record as written; meaningful only when Found is Record
};

// Locks the file, reads its record (the last one when it holds several), lets change alter it,
// and leaves the file holding that one record. An empty file holds no record: change is not
// called and the file stays as it is. When only the counter of a single-record file changed,
// those four bytes are overwritten in place; otherwise the file is replaced. Every process and
// thread that goes through here is serialised, so an update never loses another's; readers see
// the old record or the new one, never a part.
TSettingsUpdate UpdateSettingsFile(const std::string& path, const TSettingsChange& change);

// The record of an existing file without a lock (a replace is atomic); nothing when it is missing.
// fileSize, when given, receives the file's size. EReadError when it cannot be read.
std::optional<TMailSettings> ReadSettingsFile(const std::string& path, size_t* fileSize = nullptr);

// Writes a file holding just this record, replacing whatever was there in one step.
void WriteSettingsFile(const std::string& path, const TMailSettings& settings);

}  // namespace velmora
