// Form field look-ups over a profile: literal and file fields as stored, external fields read from
// their own files in bounded pieces, and the NAME_1, NAME_2, ... series of a repeated field.
#include "ProfileFormFields.h"

#include <algorithm>
#include <cstring>

#include "Files.h"
#include "HttpEng.h"

namespace velmora {

namespace {

constexpr long kExternalPiece = 2048;

// "path length": the path before the first blank, the length in the ten characters from it.
std::string ReadExternalField(const std::string& name, const std::string& entry) {
    const size_t blank = entry.find(' ');
    int length = 0;
    if (blank == std::string::npos || !TryStrToInt(entry.substr(blank, 10), length) || length < 0)
        return NotAvailable;
    const std::string path = AddSystemDrive(entry.substr(0, blank));
    if (!IsRegularFile(path)) return NotAvailable;
    try {
        TFileStream file(path, fmOpenRead | fmShareDenyNone);
        std::string text;
        char piece[kExternalPiece];
        for (long remaining = length; remaining > 0;) {
            const long got = file.Read(piece, std::min(remaining, kExternalPiece));
            if (got <= 0) break;
            const void* zero = std::memchr(piece, 0, static_cast<size_t>(got));
            const long keep = zero ? static_cast<const char*>(zero) - piece : got;
            if (static_cast<long>(text.size()) + keep > MaxExternalFieldSize) {
                WriteLog("Form field " + name + " ignored: its external file holds more than " +
                         IntToStr(MaxExternalFieldSize) + " bytes");
                return NotAvailable;
            }
            text.append(piece, static_cast<size_t>(keep));
            if (zero) break;
            remaining -= got;
        }
        return text;
    } catch (const Exception&) {
        return NotAvailable;
    }
}

}  // namespace

std::string ReadProfileFormField(const TCGIIniFile& profile, const std::string& name) {
    std::string value;
    if (profile.FindValue("FORM LITERAL", name, value)) return value;
    if (profile.FindValue("FORM FILE", name, value)) return value;
    if (profile.FindValue("FORM EXTERNAL", name, value)) return ReadExternalField(name, value);
    return NotAvailable;
}

std::string ProfileFormField(const TCGIIniFile& profile, const std::string& name, const std::string& def) {
    std::string value = ReadProfileFormField(profile, name);
    if (value == NotAvailable) return def;
    for (int i = 1;; ++i) {
        const std::string repeat = ReadProfileFormField(profile, name + "_" + IntToStr(i));
        if (repeat == NotAvailable) return value;
        value += "\r\n" + repeat;
    }
}

}  // namespace velmora
