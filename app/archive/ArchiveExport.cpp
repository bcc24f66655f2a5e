// The export's text. A value that is not UTF-8 even after its character set is applied (binary
// posted to a text field) goes into JSON as base64 under "base64", so that nothing is lost or guessed.
#include "ArchiveExport.h"

#include <cstdio>
#include <ctime>
#include <string_view>
#include <unordered_map>

#include "JsonText.h"

namespace velmora {

namespace {

constexpr const char* kFixed = "id,received,state,state_time,reason,client,user_agent,referer,recipients,subject,message_id,uploads";

std::string Latin1ToUtf8(const std::string& bytes) {
    std::string out;
    for (unsigned char c : bytes) {
        if (c < 0x80) out += static_cast<char>(c);
        else {
            out += static_cast<char>(0xC0 | (c >> 6));
            out += static_cast<char>(0x80 | (c & 0x3F));
        }
    }
    return out;
}

bool IsLatin1(const std::string& charset) {
    return charset == "iso-8859-1" || charset == "ISO-8859-1" || charset == "latin1";
}

std::string Base64(const std::string& bytes) {
    static const char* const table = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    size_t i = 0;
    for (; i + 2 < bytes.size(); i += 3) {
        unsigned v = (static_cast<unsigned char>(bytes[i]) << 16) | (static_cast<unsigned char>(bytes[i + 1]) << 8) |
                     static_cast<unsigned char>(bytes[i + 2]);
        for (int k = 18; k >= 0; k -= 6) out += table[(v >> k) & 63];
    }
    if (i < bytes.size()) {
        unsigned v = static_cast<unsigned char>(bytes[i]) << 16;
        if (i + 1 < bytes.size()) v |= static_cast<unsigned char>(bytes[i + 1]) << 8;
        out += table[(v >> 18) & 63];
        out += table[(v >> 12) & 63];
        out += i + 1 < bytes.size() ? table[(v >> 6) & 63] : '=';
        out += '=';
    }
    return out;
}

std::string UploadsText(const TSubmission& s) {
    std::string text;
    for (const TArchivedUpload& u : s.Uploads)
        text += (text.empty() ? "" : "; ") + u.Name + " (" + std::to_string(u.Size) + " bytes, " + u.Type + ")";
    return text;
}

}  // namespace

std::string FieldText(const TSubmission& s, const std::string& bytes) {
    return IsLatin1(s.Charset) ? Latin1ToUtf8(bytes) : bytes;
}


namespace {

// The cell appended to line: no copy of a value that needs no quotes, as most do.
void AppendCell(std::string& line, std::string_view text) {
    // A spreadsheet runs a cell starting with these as a formula: the quote makes it text.
    bool formula = !text.empty() && std::string_view("=+-@\t\r").find(text[0]) != std::string_view::npos;
    if (text.find_first_of(",\"\r\n") == std::string_view::npos) {
        if (formula) line += '\'';
        line += text;
        return;
    }
    line += '"';
    if (formula) line += '\'';
    for (char c : text) {
        if (c == '"') line += '"';
        line += c;
    }
    line += '"';
}

}  // namespace

namespace {

// CSV is UTF-8 throughout: a value that is not (binary in a text field) is read as Latin-1.
void AppendText(std::string& line, const TSubmission& s, const std::string& bytes) {
    if (!IsLatin1(s.Charset) && IsValidUtf8(bytes)) AppendCell(line, bytes);
    else AppendCell(line, Latin1ToUtf8(bytes));
}

}  // namespace

std::string CsvCell(const std::string& text) {
    std::string cell;
    AppendCell(cell, text);
    return cell;
}

std::string CsvHeader(const std::vector<std::string>& fieldNames) {
    std::string line = kFixed;
    for (const std::string& name : fieldNames) line += "," + CsvCell(IsValidUtf8(name) ? name : Latin1ToUtf8(name));
    return line + "\r\n";
}

std::string CsvRow(const TSubmission& s, const std::vector<std::string>& fieldNames) {
    std::string line;
    line.reserve(512);
    AppendCell(line, s.Id);
    // A client's User-Agent or Referer may be any bytes: each cell is made UTF-8 as a value is.
    const std::string received = UtcText(s.ReceivedMs), stateTime = UtcText(s.StateMs), uploads = UploadsText(s);
    for (const std::string* cell : {&received, &s.State, &stateTime, &s.Reason, &s.Client, &s.UserAgent, &s.Referer,
                                    &s.Recipients, &s.Subject, &s.MessageId, &uploads}) {
        line += ',';
        if (IsValidUtf8(*cell)) AppendCell(line, *cell);
        else AppendCell(line, Latin1ToUtf8(*cell));
    }
    // A post of thousands of fields is looked up through an index, not name by name.
    std::unordered_map<std::string_view, const std::string*> index;
    if (s.Fields.size() > 16)
        for (const auto& [n, v] : s.Fields) index.emplace(n, &v);
    for (const std::string& name : fieldNames) {
        line += ',';
        const std::string* value = nullptr;
        if (!index.empty()) {
            auto it = index.find(name);
            value = it == index.end() ? nullptr : it->second;
        } else {
            for (const auto& [n, v] : s.Fields)
                if (n == name) {
                    value = &v;
                    break;
                }
        }
        if (value) AppendText(line, s, *value);
    }
    return line + "\r\n";
}

std::string JsonObject(const TSubmission& s) {
    std::string o = "{\"id\":" + JsonString(s.Id) + ",\"received\":" + JsonString(UtcText(s.ReceivedMs)) +
                    ",\"state\":" + JsonString(s.State) + ",\"state_time\":" + JsonString(UtcText(s.StateMs)) +
                    ",\"reason\":" + JsonString(s.Reason) + ",\"client\":" + JsonString(s.Client) +
                    ",\"user_agent\":" + JsonString(s.UserAgent) + ",\"referer\":" + JsonString(s.Referer) +
                    ",\"recipients\":" + JsonString(s.Recipients) + ",\"subject\":" + JsonString(s.Subject) +
                    ",\"message_id\":" + JsonString(s.MessageId) + ",\"fields\":[";
    for (size_t i = 0; i < s.Fields.size(); ++i) {
        std::string value = FieldText(s, s.Fields[i].second);
        o += (i ? ",{\"name\":" : "{\"name\":") + JsonString(FieldText(s, s.Fields[i].first));
        o += IsValidUtf8(value) ? ",\"value\":" + JsonString(value) + "}" : ",\"base64\":\"" + Base64(s.Fields[i].second) + "\"}";
    }
    o += "],\"uploads\":[";
    for (size_t i = 0; i < s.Uploads.size(); ++i) {
        const TArchivedUpload& u = s.Uploads[i];
        o += (i ? "," : "") + std::string("{\"name\":") + JsonString(u.Name) + ",\"type\":" + JsonString(u.Type) +
             ",\"size\":" + std::to_string(u.Size);
        if (!u.Bytes.empty()) o += ",\"base64\":\"" + Base64(u.Bytes) + "\"";
        o += "}";
    }
    return o + "]}";
}

// Written by hand: strftime and printf cost as much as the rest of a row.
std::string UtcText(int64_t unixMs) {
    std::time_t t = static_cast<std::time_t>(unixMs / 1000);
    std::tm tm {};
    gmtime_r(&t, &tm);
    char text[25] = "0000-00-00T00:00:00.000Z";
    auto put = [&](int at, int value, int digits) {
        for (int i = digits - 1; i >= 0; --i, value /= 10) text[at + i] = static_cast<char>('0' + value % 10);
    };
    put(0, tm.tm_year + 1900, 4);
    put(5, tm.tm_mon + 1, 2);
    put(8, tm.tm_mday, 2);
    put(11, tm.tm_hour, 2);
    put(14, tm.tm_min, 2);
    put(17, tm.tm_sec, 2);
    put(20, static_cast<int>(unixMs % 1000), 3);
    return std::string(text, 24);
}

int64_t ParseUtcText(const std::string& text) {
    std::tm tm {};
    int n = 0;
    if (std::sscanf(text.c_str(), "%4d-%2d-%2d%n", &tm.tm_year, &tm.tm_mon, &tm.tm_mday, &n) != 3 || n != 10) return -1;
    if (text.size() > 10) {
        int m = 0;
        if (std::sscanf(text.c_str() + 10, "T%2d:%2d:%2d%n", &tm.tm_hour, &tm.tm_min, &tm.tm_sec, &m) != 3) return -1;
        std::string rest = text.substr(10 + static_cast<size_t>(m));
        if (!rest.empty() && rest != "Z") return -1;
    }
    tm.tm_year -= 1900;
    tm.tm_mon -= 1;
    return static_cast<int64_t>(timegm(&tm)) * 1000;
}

}  // namespace velmora
