// URL coding and the form data look-ups. FindFormValue works on views of the caller's string, so a
// look-up in a large form copies only the names it compares and the values it returns.
#include "FormData.h"

#include <cstdint>
#include <cstring>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "HAdaptor.h"
#include "SysUtils.h"

namespace velmora {

namespace {

int HexDigit(char c) noexcept {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

void AppendDecoded(std::string_view s, std::string& out) {
    for (size_t i = 0; i < s.size(); ++i) {
        char c = s[i];
        if (c == '+') {
            out += ' ';
        } else if (c == '%' && i + 2 < s.size() && HexDigit(s[i + 1]) >= 0 && HexDigit(s[i + 2]) >= 0) {
            out += static_cast<char>(HexDigit(s[i + 1]) * 16 + HexDigit(s[i + 2]));
            i += 2;
        } else {
            out += c;
        }
    }
}

bool IsTrimmed(char c) noexcept { return static_cast<unsigned char>(c) <= 0x20; }

std::string_view TrimView(std::string_view s) noexcept {
    while (!s.empty() && IsTrimmed(s.front())) s.remove_prefix(1);
    while (!s.empty() && IsTrimmed(s.back())) s.remove_suffix(1);
    return s;
}

// True when rawName, decoded, upper-cased and trimmed, equals key. A name without escapes is
// compared in place; scratch (reused between calls) takes the decoded form of one that has them.
bool NameMatches(std::string_view rawName, const std::string& key, std::string& scratch) {
    if (rawName.size() < key.size()) return false;  // decoding and trimming only shorten it
    std::string_view name = rawName;
    if (rawName.find_first_of("%+") != std::string_view::npos) {
        scratch.clear();
        AppendDecoded(rawName, scratch);
        name = scratch;
    }
    name = TrimView(name);
    if (name.size() != key.size()) return false;
    for (size_t i = 0; i < name.size(); ++i)
        if (UpCaseChar(name[i]) != key[i]) return false;
    return true;
}

// The form data as far as it is read: up to its first zero byte.
std::string_view UpToZero(const std::string& data) noexcept {
    const void* zero = std::memchr(data.data(), 0, data.size());
    size_t n = zero ? static_cast<size_t>(static_cast<const char*>(zero) - data.data()) : data.size();
    return std::string_view(data.data(), n);
}

// Calls f(raw name, raw value) for every pair of the text in order. Only the first "=" of a pair
// separates; a piece without "=" is read together with the next pair as one name.
template <class F>
void ForEachPair(std::string_view text, F&& f) {
    size_t pos = 0;
    for (;;) {
        size_t eq = text.find('=', pos);
        if (eq == std::string_view::npos) return;
        size_t amp = text.find('&', eq + 1);
        if (amp == std::string_view::npos) amp = text.size();  // the "&" the data is read with
        f(text.substr(pos, eq - pos), text.substr(eq + 1, amp - eq - 1));
        if (amp >= text.size()) return;
        pos = amp + 1;
    }
}

// The values of one field as a look-up returns them: joined by CR LF, def when there are none.
std::string JoinValues(std::vector<std::string>& values, const std::string& def) {
    if (values.empty()) return def;
    // Each later value was looked up with the marker as its default, so trailing values equal to
    // the marker read as "nothing more found".
    while (values.size() > 1 && values.back() == NotAvailable) values.pop_back();
    std::string result = values[0];
    for (size_t i = 1; i < values.size(); ++i) result += "\r\n" + values[i];
    return result;
}

// Forms up to this size are compared whole before their index is used again: cheap next to
// building it, and safe against a caller that rewrites its string in place within a request.
constexpr size_t kComparedForm = 65536;

// The calling thread's index of one form data string: its fields' raw values by key (decoded,
// upper-cased, trimmed name). Valid for the string it was built from, in the request it was built in.
struct TFormIndex {
    std::string Copy;  // of a small form: a form changed in place is then never misread
    const char* Data = nullptr;
    size_t Size = 0;
    uint64_t Generation = 1;
    uint64_t BuiltIn = 0;
    std::unordered_map<std::string, std::vector<std::string_view>> Values;
};

TFormIndex& FormIndex() noexcept {
    thread_local TFormIndex index;
    return index;
}

}  // namespace

std::string URLDecode(const std::string& s) {
    std::string out;
    out.reserve(s.size());
    AppendDecoded(s, out);
    return out;
}

std::string URLEncode(const std::string& s) {
    static const char kHex[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(s.size() * 3);
    for (char c : s) {
        auto b = static_cast<unsigned char>(c);
        if ((b >= 'A' && b <= 'Z') || (b >= 'a' && b <= 'z') || (b >= '0' && b <= '9') || b == '.' ||
            b == '/' || b == '\\') {
            out += c;
        } else if (b == ' ') {
            out += '+';
        } else {
            out += '%';
            out += kHex[b >> 4];
            out += kHex[b & 15];
        }
    }
    return out;
}

std::string FindFormValue(const std::string& name, const std::string& data, const std::string& def) {
    const std::string key = Trim(UpperCase(name));
    std::vector<std::string> values;
    std::string scratch;
    ForEachPair(UpToZero(data), [&](std::string_view rawName, std::string_view rawValue) {
        if (NameMatches(rawName, key, scratch)) values.push_back(URLDecode(std::string(rawValue)));
    });
    return JoinValues(values, def);
}

void ForgetFormIndex() noexcept { ++FormIndex().Generation; }

std::string FindFormValueIndexed(const std::string& name, const std::string& data, const std::string& def) {
    TFormIndex& index = FormIndex();
    const bool same = index.Data == data.data() && index.Size == data.size() && index.BuiltIn == index.Generation &&
                      (data.size() > kComparedForm || index.Copy == data);
    if (!same) {
        index.Values.clear();
        std::string key;
        ForEachPair(UpToZero(data), [&](std::string_view rawName, std::string_view rawValue) {
            key.clear();
            AppendDecoded(rawName, key);
            key = UpperCase(std::string(TrimView(key)));
            index.Values[key].push_back(rawValue);
        });
        index.Data = data.data();
        index.Size = data.size();
        index.Copy = data.size() > kComparedForm ? std::string() : data;
        index.BuiltIn = index.Generation;
    }
    auto found = index.Values.find(Trim(UpperCase(name)));
    if (found == index.Values.end()) return def;
    std::vector<std::string> values;
    for (std::string_view raw : found->second) values.push_back(URLDecode(std::string(raw)));
    return JoinValues(values, def);
}

std::unique_ptr<TStringList> ParseFormFieldNames(const std::string& data) {
    auto names = std::make_unique<TStringList>();
    const std::string_view text(data);
    size_t pos = 0;
    while (pos <= text.size()) {
        size_t amp = text.find('&', pos);
        if (amp == std::string_view::npos) amp = text.size();
        std::string_view piece = text.substr(pos, amp - pos);
        size_t eq = piece.find('=');
        if (eq != std::string_view::npos) {
            std::string name;
            AppendDecoded(piece.substr(0, eq), name);
            if (names->Count() == 0 || names->Strings(names->Count() - 1) != name) names->Add(name);
        }
        pos = amp + 1;
    }
    return names;
}

}  // namespace velmora
