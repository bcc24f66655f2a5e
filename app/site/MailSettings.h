// TMailSettings: the 1188-byte record of the settings file VELMORA.INI (counter, default sender,
// recipients, subject, relay, answer template, options), read and written byte for byte.
#pragma once

#include <array>
#include <cstdint>
#include <string>

namespace velmora {

constexpr int MailSettingsSize = 1188;

// The string fields in record order. Each is a length byte followed by up to Capacity characters;
// the bytes after the characters are kept as they are.
enum class TMailField { htmlfile, mailfrom, mailto, mailcc, mailat, mailsubject, mailhost, mailport, Options };
constexpr int MailFieldCount = 9;

struct TMailFieldInfo {
    TMailField Field;
    const char* Name;  // as the form variable and the tool name it
    int Offset;        // of the length byte
    int Capacity;      // characters after the length byte
};

// The nine string fields, in record order.
const std::array<TMailFieldInfo, MailFieldCount>& MailFields();
const TMailFieldInfo& MailFieldInfo(TMailField field);
// The field of that name (case ignored); false when there is none.
bool FindMailField(const std::string& name, TMailField& field);

class TMailSettings {
public:
    TMailSettings() { FBytes.fill(0); }

    int32_t Counter() const noexcept;
    void SetCounter(int32_t value) noexcept;

    // The characters the length byte counts (never more than the field holds).
    std::string Get(TMailField field) const;
    // Stores the first Capacity characters of value; only the length byte and those characters change.
    void Set(TMailField field, const std::string& value);

    // Options: the first character switches the date line, the second the numbered subject; a
    // switch is on only for a lower-case "j", and an empty Options string means both on.
    bool DateLine() const;
    bool NumberedSubject() const;

    const std::array<char, MailSettingsSize>& Bytes() const noexcept { return FBytes; }
    std::string ToBytes() const { return std::string(FBytes.data(), FBytes.size()); }
    // Reads a file's contents block by block into one record, as the program does: every block
    // overwrites the bytes it holds, so the last record decides and a short last block keeps the
    // rest of the record before it (zeros when it is the only one).
    static TMailSettings FromFileBytes(const std::string& bytes);

private:
    std::array<char, MailSettingsSize> FBytes;
};

}  // namespace velmora
