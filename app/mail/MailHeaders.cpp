// Building the site's extra header lines. Every value that comes from the form is checked to be
// one harmless token before it enters a header line; the rest is made here.
#include "MailHeaders.h"

#include <chrono>
#include <cstdio>
#include <random>

#include "HttpDate.h"
#include "JsonText.h"
#include "MailEncoding.h"
#include "System.h"
#include "SysUtils.h"

namespace velmora {

namespace {

bool IsAddressChar(char c) {
    auto b = static_cast<unsigned char>(c);
    if (b <= 0x20 || b >= 0x7F) return false;
    return std::string_view("\"(),:;<>[\\]%").find(c) == std::string_view::npos;
}

bool IsDomainChar(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' || c == '.';
}

bool HasHighByte(const std::string& s) {
    for (char c : s)
        if (static_cast<unsigned char>(c) >= 0x80) return true;
    return false;
}

std::string LowerAscii(std::string s) {
    for (char& c : s)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return s;
}

}  // namespace

std::string ReplyToAddress(const std::string& value) {
    std::string v = Trim(value);
    size_t at = v.rfind('@');
    // One "@" only: "a@b@example.org" is no address, whichever "@" a mail program splits at.
    if (v.empty() || v.size() > 254 || at == 0 || at == std::string::npos || at + 1 == v.size() || v.find('@') != at)
        return "";
    for (char c : v)
        if (!IsAddressChar(c)) return "";
    for (size_t i = at + 1; i < v.size(); ++i)
        if (!IsDomainChar(v[i])) return "";
    return v;
}

std::string ChooseMailCharset(const std::string& setting, const std::string& text, const std::string& charsetField) {
    if (setting != "auto") return setting;
    std::string named = LowerAscii(Trim(charsetField));
    if (named == "utf-8" || named == "utf8") return "utf-8";
    return HasHighByte(text) && IsValidUtf8(text) ? "utf-8" : "iso-8859-1";
}

std::string EncodeHeaderWords(const std::string& value, const std::string& charset) {
    if (!HasHighByte(value)) return value;
    // "=?utf-8?B?" and "?=" take 12 bytes of 75: 45 bytes of text make 60 characters of base64.
    constexpr size_t kChunk = 45;
    bool utf8 = charset == "utf-8";
    std::string out;
    for (size_t pos = 0; pos < value.size();) {
        size_t end = std::min(value.size(), pos + kChunk);
        // A UTF-8 character is never split between two words.
        while (utf8 && end < value.size() && end > pos && (static_cast<unsigned char>(value[end]) & 0xC0) == 0x80) --end;
        if (end == pos) end = std::min(value.size(), pos + kChunk);
        if (!out.empty()) out += ' ';
        out += "=?" + charset + "?B?" + EncodeBase64(value.substr(pos, end - pos)) + "?=";
        pos = end;
    }
    return out;
}

std::string DateHeaderLine() {
    std::string date = HttpDate(Now());
    return "Date: " + date.substr(0, date.size() - 3) + "+0000";
}

std::string MessageIdHeaderLine(const std::string& mailFrom) {
    std::string domain = "localhost";
    size_t at = mailFrom.rfind('@');
    if (at != std::string::npos) {
        size_t end = at + 1;
        while (end < mailFrom.size() && IsDomainChar(mailFrom[end])) ++end;
        if (end > at + 1 && end - at <= 200) domain = mailFrom.substr(at + 1, end - at - 1);
    }
    thread_local std::mt19937_64 random{std::random_device{}()};
    auto micros = std::chrono::duration_cast<std::chrono::microseconds>(
                      std::chrono::system_clock::now().time_since_epoch()).count();
    char id[64];
    std::snprintf(id, sizeof id, "%016llx.%llx", static_cast<unsigned long long>(random()),
                  static_cast<unsigned long long>(micros));
    return "Message-ID: <" + std::string(id) + "@" + domain + ">";
}

void SetHeaderCharset(TStringList& header, const std::string& charset) {
    for (int i = 0; i < header.Count(); ++i) {
        std::string line = LowerAscii(header[i]);
        if (line.rfind("content-type:", 0) == 0 && line.find("text/plain") != std::string::npos)
            header.SetString(i, "Content-Type: text/plain; charset=" + charset);
    }
}

}  // namespace velmora
