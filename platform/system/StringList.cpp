// TStringList: line splitting with every line-end convention, and the text and file forms.
// Files go through TFileStream so share modes apply to side files too.
#include "StringList.h"

#include "Streams.h"
#include "SysUtils.h"

namespace velmora {

std::vector<std::string> SplitLines(const std::string& text) {
    std::vector<std::string> lines;
    size_t start = 0, i = 0;
    const size_t n = text.size();
    while (i < n) {
        char c = text[i];
        if (c == '\r' || c == '\n') {
            lines.emplace_back(text, start, i - start);
            i += (c == '\r' && i + 1 < n && text[i + 1] == '\n') ? 2 : 1;
            start = i;
        } else {
            ++i;
        }
    }
    if (start < n) lines.emplace_back(text, start, n - start);
    return lines;
}

const std::string& TStringList::Strings(int index) const {
    if (index < 0 || index >= Count()) throw EListError("List index out of bounds (" + IntToStr(index) + ")");
    return FItems[static_cast<size_t>(index)];
}

void TStringList::SetString(int index, const std::string& s) {
    if (index < 0 || index >= Count()) throw EListError("List index out of bounds (" + IntToStr(index) + ")");
    FItems[static_cast<size_t>(index)] = s;
}

int TStringList::Add(const std::string& s) {
    FItems.push_back(s);
    return Count() - 1;
}

void TStringList::Insert(int index, const std::string& s) {
    if (index < 0 || index > Count()) throw EListError("List index out of bounds (" + IntToStr(index) + ")");
    FItems.insert(FItems.begin() + index, s);
}

void TStringList::Delete(int index) {
    if (index < 0 || index >= Count()) throw EListError("List index out of bounds (" + IntToStr(index) + ")");
    FItems.erase(FItems.begin() + index);
}

int TStringList::IndexOf(const std::string& s) const noexcept {
    for (size_t i = 0; i < FItems.size(); ++i)
        if (FItems[i] == s) return static_cast<int>(i);
    return -1;
}

std::string TStringList::Text() const {
    std::string out;
    for (const auto& s : FItems) {
        out += s;
        out += "\r\n";
    }
    return out;
}

void TStringList::SetText(const std::string& text) { FItems = SplitLines(text); }

std::string TStringList::Values(const std::string& name) const {
    for (const auto& s : FItems) {
        size_t eq = s.find('=');
        if (eq != std::string::npos && s.compare(0, eq, name) == 0) return s.substr(eq + 1);
    }
    return {};
}

void TStringList::LoadFromStream(TStream& stream) {
    std::string data(static_cast<size_t>(stream.Size() - stream.Position()), '\0');
    if (!data.empty()) data.resize(static_cast<size_t>(stream.Read(data.data(), static_cast<long>(data.size()))));
    SetText(data);
}

void TStringList::SaveToStream(TStream& stream) const {
    std::string t = Text();
    if (!t.empty()) stream.WriteBuffer(t.data(), static_cast<long>(t.size()));
}

void TStringList::LoadFromFile(const std::string& path) {
    TFileStream f(path, fmOpenRead | fmShareDenyWrite);
    LoadFromStream(f);
}

void TStringList::SaveToFile(const std::string& path) const {
    TFileStream f(path, fmCreate);
    SaveToStream(f);
}

}  // namespace velmora
