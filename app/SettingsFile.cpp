// Reading, creating and changing VELMORA.INI: the record goes through TMailSettings, the locking
// and the replace-by-rename through TLockedFile, so the program and the tool cannot drift apart.
#include "SettingsFile.h"

#include "Files.h"
#include "LockedFile.h"
#include "Streams.h"

namespace velmora {

std::optional<TMailSettings> UpdateSettingsFile(const std::string& path, const TSettingsChange& change) {
    TLockedFile file(path);
    if (!file.Exists()) return std::nullopt;
    std::string bytes = file.ReadAll();
    TMailSettings settings = TMailSettings::FromFileBytes(bytes);
    change(settings, bytes.size());
    file.Replace(settings.ToBytes());
    return settings;
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
