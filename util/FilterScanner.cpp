// The entry test of the template filter's scan (the delimiter finder is inline in the header).
// It runs on every entry of every answer page, so it avoids allocation and works on views.
#include "FilterScanner.h"

namespace velmora {

namespace {

bool IsBlankOrControl(char c) noexcept { return static_cast<unsigned char>(c) <= 0x20; }

// True when the text before a blank, trimmed, is exactly the keyword of a condition.
bool OpensCondition(std::string_view before) noexcept {
    while (!before.empty() && IsBlankOrControl(before.back())) before.remove_suffix(1);
    while (!before.empty() && IsBlankOrControl(before.front())) before.remove_prefix(1);
    return before == "IF" || before == "ELSEIF";
}

}  // namespace

bool IsEntryCandidate(std::string_view candidate) noexcept {
    for (size_t k = EntryEnd(candidate, 0); k < candidate.size(); k = EntryEnd(candidate, k + 1))
        if (candidate[k] != ' ' || !OpensCondition(candidate.substr(0, k))) return false;
    return true;
}

}  // namespace velmora
