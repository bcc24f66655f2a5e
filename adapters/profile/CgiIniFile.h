// TCGIIniFile: the profile a profile-file web server writes for one request (sections of
// KEY=value lines), read whole at construction; the profile engine asks it for every value.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "Streams.h"
#include "StringList.h"

namespace velmora {

// Profile keys in the order that puts NAME's repeats NAME_1, NAME_2, ... right after NAME: "_"
// sorts before every other byte, so no other key can fall between a field and its repeats.
struct TProfileKeyLess {
    bool operator()(const std::string& a, const std::string& b) const noexcept;
};

class TCGIIniFile {
public:
    // Limits on what a profile may make this reader hold. Beyond them the reader skips, never
    // grows: a line longer than MaxLineLength is ignored whole (a cut value would be a wrong one);
    // a section header past the MaxSections-th new name is ignored together with the keys under it
    // (they must not land in the section before); a file larger than MaxFileSize is refused.
    static constexpr int MaxSections = 51;
    static constexpr size_t MaxLineLength = 4096;
    static constexpr int64_t MaxFileSize = 16 * 1024 * 1024;

    // Reads the profile file. EFOpenError when it is missing, unreadable or not a regular file (a
    // folder reads as nothing, a FIFO would block), EReadError when it exceeds MaxFileSize.
    explicit TCGIIniFile(const std::string& fileName);
    // Reads a profile from a stream, from its current position to its end.
    explicit TCGIIniFile(TStream& source);

    // Section and key compare upper-cased and trimmed; def when either does not exist.
    std::string ReadString(const std::string& section, const std::string& key, const std::string& def) const;
    // As ReadString; false (value untouched) when the section or key does not exist.
    bool FindValue(const std::string& section, const std::string& key, std::string& value) const;
    // Stores Value, trimmed, under key of an existing section; the last of equal keys wins.
    void SetValue(const std::string& section, const std::string& key, const std::string& value);
    // The field names of the sections whose names begin with "FORM", in file order of the
    // sections and key order within each, every NAME_1, NAME_2, ... repeat left out.
    std::unique_ptr<TStringList> ProfileFieldNames() const;
    // The keys (upper-cased) and values of a section in key order; none when it does not exist.
    std::vector<std::pair<std::string, std::string>> SectionEntries(const std::string& section) const;

    // Section names in file order, upper-cased.
    const std::vector<std::string>& Sections() const noexcept { return FSections; }
    // What the limits made the reader skip: over-long lines and sections past MaxSections.
    int IgnoredLines() const noexcept { return FIgnoredLines; }
    int IgnoredSections() const noexcept { return FIgnoredSections; }

private:
    using TKeys = std::map<std::string, std::string, TProfileKeyLess>;

    void Load(TStream& source);
    void ParseLine(const std::string& line);
    int IndexOfSection(const std::string& upperName) const;

    std::vector<std::string> FSections;
    std::vector<TKeys> FSectionKeys;
    int FCurrentSection = -1;
    int FIgnoredLines = 0;
    int FIgnoredSections = 0;
};

// A path named in a profile made full: an absolute path is returned as it is; any other is taken
// from the root of the file system, where a profile-file server's system drive would put it.
std::string AddSystemDrive(const std::string& path);

// EFOpenError when path exists but is no regular file: a folder reads as nothing, and opening a
// FIFO would wait for a writer that may never come. A missing path is left to the open.
void RequireRegularFile(const std::string& path);

}  // namespace velmora
