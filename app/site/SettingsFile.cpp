// Reading, creating and changing VELMORA.INI: the record goes through TMailSettings, the locking,
// the in-place counter and the replace-by-rename through TLockedFile, so the program and the tool
// cannot drift apart.
#include "SettingsFile.h"

#include "Files.h"
#include "LockedFile.h"
#include "Streams.h"

namespace velmora {

TSettingsUpdate UpdateSettingsFile(const std::string& path, const TSettingsChange& change) {
    TLockedFile file(path);
    if (!file.Exists()) return {};
    std::string bytes = file.ReadAll();
    // Nothing to count in and nothing to keep: writing a made-up record back could only replace
    // one that an unlocked writer (a copy, an editor) put there meanwhile.
    if (bytes.empty()) return {TSettingsFound::NoRecord, {}};
    TMailSettings settings = TMailSettings::FromFileBytes(bytes);
    const std::string before = settings.ToBytes();
    change(settings, bytes.size());
    const std::string after = settings.ToBytes();
    // The usual request changes the counter alone: four bytes written in place under the lock
    // cost a fraction of a new file, its flush and a rename. A crash can at worst keep the old
    // counter; the record itself is never rewritten, so it cannot be lost or cut short.
    constexpr size_t kCounterBytes = 4;
    bool counterOnly = bytes.size() == MailSettingsSize && file.Writable() &&
                       after.compare(kCounterBytes, std::string::npos, before, kCounterBytes) == 0;
    if (!counterOnly)
        file.Replace(after);
    else if (after != before)
        file.OverwriteAt(0, after.substr(0, kCounterBytes));
    return {TSettingsFound::Record, settings};
}

std::optional<TMailSettings> ReadSettingsFile(const std::string& path, size_t* fileSize) {
    if (!FileExists(path)) return std::nullopt;
    TMemoryStream stream;
    stream.LoadFromFile(path);
    if (fileSize) *fileSize = stream.Bytes().size();
    return TMailSettings::FromFileBytes(stream.Bytes());
}

void WriteSettingsFile(const std::string& path, const TMailSettings& settings) {
    WriteFileAtomic(path, settings.ToBytes());
}

}  // namespace velmora
