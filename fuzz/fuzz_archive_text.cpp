// Fuzz target for what the archive writes out of a post's bytes: a CSV cell reads back by RFC 4180
// as the value (with the quote a formula-looking value gets, and no other change), a JSON object
// stays valid UTF-8, an erasure's address match never claims a value that does not hold the address.
#include <cctype>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "ArchiveExport.h"
#include "ArchiveStore.h"
#include "JsonText.h"
#include "SubmissionId.h"

using namespace velmora;

namespace {

void Check(bool ok) {
    if (!ok) std::abort();
}

// One cell read back as a spreadsheet reads it.
std::string ReadCell(const std::string& cell) {
    if (cell.empty() || cell[0] != '"') return cell;
    Check(cell.size() >= 2 && cell.back() == '"');
    std::string text;
    for (size_t i = 1; i + 1 < cell.size(); ++i) {
        if (cell[i] == '"') {
            Check(cell[i + 1] == '"');
            ++i;
        }
        text += cell[i];
    }
    return text;
}

void CheckCsv(const std::string& value) {
    std::string cell = CsvCell(value);
    bool formula = !value.empty() && std::string("=+-@\t\r").find(value[0]) != std::string::npos;
    Check(ReadCell(cell) == (formula ? "'" + value : value));
    if (cell[0] != '"') Check(cell.find_first_of(",\"\r\n") == std::string::npos);
}

std::string Lower(std::string s) {
    for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

void CheckAddress(const std::string& value, const std::string& address) {
    if (HoldsAddress(value, address)) Check(!address.empty() && Lower(value).find(Lower(address)) != std::string::npos);
    if (!address.empty()) Check(HoldsAddress(address, address));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string in(reinterpret_cast<const char*>(data), size);
    size_t cut = in.find('\0');
    std::string value = in.substr(0, cut), address = cut == std::string::npos ? "" : in.substr(cut + 1);
    CheckCsv(value);
    CheckAddress(value, address);
    TSubmission s;
    s.Charset = size % 2 ? "iso-8859-1" : "utf-8";
    s.UserAgent = s.Referer = s.Subject = value;
    s.Fields = {{value, address}, {address, value}};
    s.Uploads = {{value, address, static_cast<int64_t>(size), value}};
    Check(IsValidUtf8(JsonObject(s)));
    Check(IsValidUtf8(CsvRow(s, {value, address})));
    int64_t ms = 0;
    for (size_t i = 0; i < size && i < 6; ++i) ms = ms * 256 + data[i];
    Check(SubmissionIdTime(NewSubmissionId(ms)) == ms);
    return 0;
}
