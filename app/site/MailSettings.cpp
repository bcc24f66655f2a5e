// The settings record's layout and its field access: offsets and capacities of the string fields,
// the little-endian counter, and the two option switches.
#include "MailSettings.h"

#include <algorithm>
#include <cstring>

#include "SysUtils.h"

namespace velmora {

const std::array<TMailFieldInfo, MailFieldCount>& MailFields() {
    static const std::array<TMailFieldInfo, MailFieldCount> fields{{
        {TMailField::htmlfile, "htmlfile", 4, 255},
        {TMailField::mailfrom, "mailfrom", 260, 80},
        {TMailField::mailto, "mailto", 341, 80},
        {TMailField::mailcc, "mailcc", 422, 80},
        {TMailField::mailat, "mailat", 503, 255},
        {TMailField::mailsubject, "mailsubject", 759, 80},
        {TMailField::mailhost, "mailhost", 840, 80},
        {TMailField::mailport, "mailport", 921, 20},
        // Runs to the record's end: a length byte and 245 bytes, of which only two are used.
        {TMailField::Options, "Options", 942, MailSettingsSize - 942 - 1},
    }};
    return fields;
}

const TMailFieldInfo& MailFieldInfo(TMailField field) { return MailFields()[static_cast<size_t>(field)]; }

bool FindMailField(const std::string& name, TMailField& field) {
    for (const auto& f : MailFields()) {
        if (UpperCase(name) == UpperCase(f.Name)) {
            field = f.Field;
            return true;
        }
    }
    return false;
}

int32_t TMailSettings::Counter() const noexcept {
    uint32_t v = 0;
    for (int i = 3; i >= 0; --i) v = (v << 8) | static_cast<unsigned char>(FBytes[static_cast<size_t>(i)]);
    return static_cast<int32_t>(v);
}

void TMailSettings::SetCounter(int32_t value) noexcept {
    auto v = static_cast<uint32_t>(value);
    for (size_t i = 0; i < 4; ++i) FBytes[i] = static_cast<char>((v >> (8 * i)) & 0xFF);
}

std::string TMailSettings::Get(TMailField field) const {
    const TMailFieldInfo& f = MailFieldInfo(field);
    // A length byte larger than the field (a damaged file) is read as the whole field, never beyond.
    int len = std::min<int>(static_cast<unsigned char>(FBytes[static_cast<size_t>(f.Offset)]), f.Capacity);
    return std::string(FBytes.data() + f.Offset + 1, static_cast<size_t>(len));
}

void TMailSettings::Set(TMailField field, const std::string& value) {
    const TMailFieldInfo& f = MailFieldInfo(field);
    size_t len = std::min(value.size(), static_cast<size_t>(f.Capacity));
    FBytes[static_cast<size_t>(f.Offset)] = static_cast<char>(len);
    std::memcpy(FBytes.data() + f.Offset + 1, value.data(), len);
}

bool TMailSettings::DateLine() const {
    std::string o = Get(TMailField::Options);
    return o.empty() || o[0] == 'j';
}

bool TMailSettings::NumberedSubject() const {
    std::string o = Get(TMailField::Options);
    return o.empty() || (o.size() >= 2 && o[1] == 'j');
}

TMailSettings TMailSettings::FromFileBytes(const std::string& bytes) {
    TMailSettings s;
    for (size_t pos = 0; pos < bytes.size(); pos += MailSettingsSize) {
        size_t n = std::min(bytes.size() - pos, static_cast<size_t>(MailSettingsSize));
        std::memcpy(s.FBytes.data(), bytes.data() + pos, n);
    }
    return s;
}

}  // namespace velmora
