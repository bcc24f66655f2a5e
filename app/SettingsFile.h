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

// Locks the file, reads its record (the last one when it holds several), lets change alter it,
// and replaces the file by that one record. Returns the record as written, or nothing when the
// file does not exist. Every process and thread that goes through here is serialised, so an
// update never loses another's; readers see the old file or the new one, never a part.
std::optional<TMailSettings> UpdateSettingsFile(const std::string& path, const TSettingsChange& change);

// The record of an existing file without a lock (a replace is atomic); nothing when it is missing.
// fileSize, when given, receives the file's size. EReadError when it cannot be read.
std::optional<TMailSettings> ReadSettingsFile(const std::string& path, size_t* fileSize = nullptr);

// Writes a file holding just this record, replacing whatever was there in one step.
void WriteSettingsFile(const std::string& path, const TMailSettings& settings);

}  // namespace velmora
