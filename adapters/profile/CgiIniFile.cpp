// TCGIIniFile: reading a profile byte by byte into sections and sorted keys, the look-ups, and
// the list of form field names; a line ends only at CR, so an LF-only file is one line.
#include "CgiIniFile.h"

#include "Files.h"
#include "SysUtils.h"

namespace velmora {

namespace {

// Keys of a line are looked for only this far: "=" must stand within the first 32 characters.
constexpr size_t kKeyWindow = 32;

// "_" first, every other byte after it in code order.
unsigned KeyRank(char c) noexcept { return c == '_' ? 0u : static_cast<unsigned char>(c) + 1u; }

// The decimal digits of a repeat count.
bool IsRepeatNumber(const std::string& s) noexcept {
    if (s.empty()) return false;
    for (char c : s)
        if (c < '0' || c > '9') return false;
    return true;
}

std::string ProfileName(const std::string& s) { return Trim(UpperCase(s)); }

}  // namespace

bool TProfileKeyLess::operator()(const std::string& a, const std::string& b) const noexcept {
    const size_t n = a.size() < b.size() ? a.size() : b.size();
    for (size_t i = 0; i < n; ++i) {
        if (a[i] == b[i]) continue;
        return KeyRank(a[i]) < KeyRank(b[i]);
    }
    return a.size() < b.size();
}

TCGIIniFile::TCGIIniFile(const std::string& fileName) {
    RequireRegularFile(fileName);
    TFileStream file(fileName, fmOpenRead | fmShareDenyNone);
    Load(file);
}

TCGIIniFile::TCGIIniFile(TStream& source) { Load(source); }

// Bytes of 32 or less are dropped at the start of a line and kept within it; CR ends a line. The
// byte after a CR is thereby dropped when it is a blank or control character (the LF of CR LF).
void TCGIIniFile::Load(TStream& source) {
    std::string line;
    bool overlong = false;
    int64_t total = 0;
    char buffer[65536];
    auto endLine = [&] {
        if (overlong) ++FIgnoredLines;
        else if (!line.empty()) ParseLine(line);
        line.clear();
        overlong = false;
    };
    for (long got; (got = source.Read(buffer, sizeof buffer)) > 0;) {
        total += got;
        if (total > MaxFileSize)
            throw EReadError("Profile file larger than " + IntToStr(MaxFileSize) + " bytes");
        for (long i = 0; i < got; ++i) {
            const char c = buffer[i];
            if (c == '\r') {
                endLine();
            } else if (overlong || (line.empty() && static_cast<unsigned char>(c) <= 32)) {
                continue;
            } else if (line.size() == MaxLineLength) {
                overlong = true;
                line.clear();
            } else {
                line.push_back(c);
            }
        }
    }
    endLine();
}

void TCGIIniFile::ParseLine(const std::string& line) {
    if (line[0] == '[') {
        size_t end = line.size();
        while (end > 1 && (line[end - 1] == ']' || static_cast<unsigned char>(line[end - 1]) <= 32)) --end;
        const std::string name = ProfileName(line.substr(1, end - 1));
        if (IndexOfSection(name) >= 0) return;  // a repeated header: keys go on where they were
        if (static_cast<int>(FSections.size()) >= MaxSections) {
            ++FIgnoredSections;
            FCurrentSection = -1;
            return;
        }
        FSections.push_back(name);
        FSectionKeys.emplace_back();
        FCurrentSection = static_cast<int>(FSections.size()) - 1;
        return;
    }
    const size_t eq = line.find('=');
    if (eq == std::string::npos || eq >= kKeyWindow || FCurrentSection < 0) return;
    const std::string key = ProfileName(line.substr(0, eq));
    if (!key.empty()) FSectionKeys[static_cast<size_t>(FCurrentSection)][key] = Trim(line.substr(eq + 1));
}

int TCGIIniFile::IndexOfSection(const std::string& upperName) const {
    for (size_t i = 0; i < FSections.size(); ++i)
        if (FSections[i] == upperName) return static_cast<int>(i);
    return -1;
}

bool TCGIIniFile::FindValue(const std::string& section, const std::string& key, std::string& value) const {
    const int s = IndexOfSection(ProfileName(section));
    if (s < 0) return false;
    const TKeys& keys = FSectionKeys[static_cast<size_t>(s)];
    auto it = keys.find(ProfileName(key));
    if (it == keys.end()) return false;
    value = it->second;
    return true;
}

std::vector<std::pair<std::string, std::string>> TCGIIniFile::SectionEntries(const std::string& section) const {
    const int s = IndexOfSection(ProfileName(section));
    if (s < 0) return {};
    const TKeys& keys = FSectionKeys[static_cast<size_t>(s)];
    return {keys.begin(), keys.end()};
}

std::string TCGIIniFile::ReadString(const std::string& section, const std::string& key,
                                    const std::string& def) const {
    std::string value = def;
    FindValue(section, key, value);
    return value;
}

void TCGIIniFile::SetValue(const std::string& section, const std::string& key, const std::string& value) {
    const int s = IndexOfSection(ProfileName(section));
    const std::string k = ProfileName(key);
    if (s >= 0 && !k.empty()) FSectionKeys[static_cast<size_t>(s)][k] = Trim(value);
}

std::unique_ptr<TStringList> TCGIIniFile::ProfileFieldNames() const {
    auto names = std::make_unique<TStringList>();
    for (size_t s = 0; s < FSections.size(); ++s) {
        if (FSections[s].rfind("FORM", 0) != 0) continue;
        std::string prefix;
        for (const auto& entry : FSectionKeys[s]) {
            const std::string& key = entry.first;
            if (!prefix.empty() && key.size() > prefix.size() && key.compare(0, prefix.size(), prefix) == 0 &&
                IsRepeatNumber(key.substr(prefix.size())))
                continue;
            names->Add(key);
            prefix = key + "_";
        }
    }
    return names;
}

void RequireRegularFile(const std::string& path) {
    if (PathExists(path) && !IsRegularFile(path))
        throw EFOpenError("Cannot open file \"" + path + "\". Not a regular file");
}

std::string AddSystemDrive(const std::string& path) { return IsAbsolutePath(path) ? path : "/" + path; }

}  // namespace velmora
