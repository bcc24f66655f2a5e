// The entry test of the template filter's scan (the delimiter finder is inline in the header).
// It runs on every entry of every answer page, so it avoids allocation and works on views.
#include "FilterScanner.h"

#include <array>

namespace velmora {

namespace {

constexpr std::array<bool, 256> MakeEntryBytes() {
    std::array<bool, 256> ok{};
    for (int b = 0x2F; b <= 0xFF; ++b) ok[b] = true;
    for (int b : {0x24, 0x27, 0x2A, 0x2B, 0x2D}) ok[b] = true;
    return ok;
}
constexpr std::array<bool, 256> EntryBytes = MakeEntryBytes();

bool IsBlankOrControl(char c) noexcept { return static_cast<unsigned char>(c) <= 0x20; }

// True when the text before a blank, trimmed, is exactly the keyword of a condition.
bool OpensCondition(std::string_view before) noexcept {
    while (!before.empty() && IsBlankOrControl(before.back())) before.remove_suffix(1);
    while (!before.empty() && IsBlankOrControl(before.front())) before.remove_prefix(1);
    return before == "IF" || before == "ELSEIF";
}

}  // namespace

bool IsEntryCandidate(std::string_view candidate) noexcept {
    for (size_t k = 0; k < candidate.size(); ++k) {
        unsigned char b = static_cast<unsigned char>(candidate[k]);
        if (EntryBytes[b]) continue;
        if (b != ' ' || !OpensCondition(candidate.substr(0, k))) return false;
    }
    return true;
}

}  // namespace velmora
