// Reading the image example's query: fields absent keep their defaults; present ones must be
// plain decimal digits within their range (no sign, no blanks, no second value).
#include "ImageQuery.h"

#include "HAdaptor.h"

namespace velmora::example {

namespace {

bool AllDigits(const std::string& s) {
    if (s.empty()) return false;
    for (char c : s)
        if (c < '0' || c > '9') return false;
    return true;
}

// Leading zeros are allowed; anything longer than nine significant digits is out of range
// before it could overflow.
bool ReadNumber(const TFieldLookup& field, const char* name, int low, int high, int& value,
                std::string& error) {
    const std::string text = field(name);
    if (text == NotAvailable) return true;
    const size_t first = text.find_first_not_of('0');
    const std::string significant = first == std::string::npos ? "0" : text.substr(first);
    if (!AllDigits(text) || significant.size() > 9 || std::stoi(significant) < low || std::stoi(significant) > high) {
        error = std::string(name) + " must be a whole number from " + std::to_string(low) + " to " +
                std::to_string(high) + ".";
        return false;
    }
    value = std::stoi(significant);
    return true;
}

bool ReadSwitch(const TFieldLookup& field, const char* name, bool& value, std::string& error) {
    int n = value ? 1 : 0;
    if (!ReadNumber(field, name, 0, 1, n, error)) return false;
    value = n == 1;
    return true;
}

bool ReadCounter(const TFieldLookup& field, TImageQuery& q, std::string& error) {
    const std::string count = field("count");
    if (!AllDigits(count) || count.size() > MaxDigits) {
        error = "count must be a number of 1 to " + std::to_string(MaxDigits) + " digits.";
        return false;
    }
    if (!ReadNumber(field, "digits", 1, MaxDigits, q.Digits, error)) return false;
    q.Counter = true;
    q.Count = count.size() < static_cast<size_t>(q.Digits) ? std::string(q.Digits - count.size(), '0') + count : count;
    return true;
}

}  // namespace

bool ParseImageQuery(const TFieldLookup& field, TImageQuery& q, std::string& error) {
    q = TImageQuery{};
    if (field("count") != NotAvailable) return ReadCounter(field, q, error);
    if (!ReadNumber(field, "width", 1, MaxSide, q.Width, error) ||
        !ReadNumber(field, "height", 1, MaxSide, q.Height, error) ||
        !ReadNumber(field, "colors", 2, 256, q.Colors, error) ||
        !ReadNumber(field, "frames", 1, MaxFrames, q.Frames, error) ||
        !ReadSwitch(field, "interlaced", q.Interlaced, error) ||
        !ReadSwitch(field, "transparent", q.Transparent, error))
        return false;
    if (static_cast<long long>(q.Width) * q.Height * q.Frames > MaxImagePixels) {
        error = "width times height times frames must not exceed " + std::to_string(MaxImagePixels) + " pixels.";
        return false;
    }
    return true;
}

}  // namespace velmora::example
