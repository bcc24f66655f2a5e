// The export's text. A value that is not UTF-8 even after its character set is applied (binary
// posted to a text field) goes into JSON as base64 under "base64", so that nothing is lost or guessed.
#include "ArchiveExport.h"

#include <cstdio>
#include <ctime>

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

// The value of a field posted under this name (the first, should a name come twice).
std::string FieldValue(const TSubmission& s, const std::string& name) {
    for (const auto& [n, v] : s.Fields)
        if (n == name) return v;
    return "";
}

}  // namespace

std::string FieldText(const TSubmission& s, const std::string& bytes) {
    return IsLatin1(s.Charset) ? Latin1ToUtf8(bytes) : bytes;
}

namespace {

// CSV is UTF-8 throughout: a value that is not (binary in a text field) is read as Latin-1.
std::string CsvText(const TSubmission& s, const std::string& bytes) {
    std::string text = FieldText(s, bytes);
    return IsValidUtf8(text) ? text : Latin1ToUtf8(bytes);
}

}  // namespace

std::string CsvCell(const std::string& text) {
    std::string cell = text;
    // A spreadsheet runs a cell starting with these as a formula: the quote makes it text.
    if (!cell.empty() && std::string("=+-@\t\r").find(cell[0]) != std::string::npos) cell.insert(0, 1, '\'');
    if (cell.find_first_of(",\"\r\n") == std::string::npos) return cell;
    std::string quoted = "\"";
    for (char c : cell) {
        if (c == '"') quoted += '"';
        quoted += c;
    }
    return quoted + "\"";
}

std::string CsvHeader(const std::vector<std::string>& fieldNames) {
    std::string line = kFixed;
    for (const std::string& name : fieldNames) line += "," + CsvCell(IsValidUtf8(name) ? name : Latin1ToUtf8(name));
    return line + "\r\n";
}

std::string CsvRow(const TSubmission& s, const std::vector<std::string>& fieldNames) {
    std::string line = CsvCell(s.Id);
    for (const std::string& cell : {UtcText(s.ReceivedMs), s.State, UtcText(s.StateMs), s.Reason, s.Client, s.UserAgent,
                                    s.Referer, s.Recipients, s.Subject, s.MessageId, UploadsText(s)})
        line += "," + CsvCell(cell);
    for (const std::string& name : fieldNames) line += "," + CsvCell(CsvText(s, FieldValue(s, name)));
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

std::string UtcText(int64_t unixMs) {
    std::time_t t = static_cast<std::time_t>(unixMs / 1000);
    std::tm tm {};
    gmtime_r(&t, &tm);
    char text[40];
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S", &tm);
    char ms[8];
    std::snprintf(ms, sizeof ms, ".%03dZ", static_cast<int>(unixMs % 1000));
    return std::string(text) + ms;
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
