// TStringList: an ordered list of 8-bit text lines, with the text and file forms the side files use.
// Loading ends a line at CR LF, a lone CR or a lone LF; saving writes CR LF after every line.
#pragma once

#include <string>
#include <vector>

namespace velmora {

class TStream;

class TStringList {
public:
    TStringList() = default;

    int Count() const noexcept { return static_cast<int>(FItems.size()); }
    const std::string& Strings(int index) const;
    void SetString(int index, const std::string& s);
    const std::string& operator[](int index) const { return Strings(index); }
    int Add(const std::string& s);
    void Insert(int index, const std::string& s);
    void Delete(int index);
    void Clear() noexcept { FItems.clear(); }
    // Exact, case-sensitive match; -1 when absent.
    int IndexOf(const std::string& s) const noexcept;
    void Assign(const TStringList& other) { FItems = other.FItems; }

    // Every line followed by CR LF.
    std::string Text() const;
    void SetText(const std::string& text);
    // The value after the first "=" of the first line whose name (before "=") equals name.
    std::string Values(const std::string& name) const;

    // File forms. LoadFromFile raises EFOpenError when the file cannot be read.
    void LoadFromFile(const std::string& path);
    void SaveToFile(const std::string& path) const;
    void LoadFromStream(TStream& stream);
    void SaveToStream(TStream& stream) const;

    const std::vector<std::string>& Items() const noexcept { return FItems; }
    std::vector<std::string>::const_iterator begin() const noexcept { return FItems.begin(); }
    std::vector<std::string>::const_iterator end() const noexcept { return FItems.end(); }

private:
    std::vector<std::string> FItems;
};

// Splits text into lines at CR LF, lone CR or lone LF; a last line without an end still counts.
std::vector<std::string> SplitLines(const std::string& text);

}  // namespace velmora
