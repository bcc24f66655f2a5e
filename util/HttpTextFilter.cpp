// The template scan: literal text is copied through AdaptWrite while the current IF level writes,
// each entry becomes a directive (IF, ELSEIF, ELSE, ENDIF) or a value, a lone delimiter stays text.
#include "HttpTextFilter.h"

#include "FilterConditions.h"
#include "FilterScanner.h"
#include "HAdaptor.h"
#include "SysUtils.h"

namespace velmora {

namespace {

// Writes literal stretches through one string per thread, so copying text costs no allocation.
// The string is in use only during AdaptWrite, which never comes back into the filter; a
// handler that filters another template runs between two writes, not inside one.
void WriteText(std::string_view text, size_t from, size_t to) {
    if (to <= from) return;
    thread_local std::string scratch;
    scratch.assign(text.data() + from, to - from);
    AdaptWrite(scratch);
}

bool StartsWithUpper(std::string_view name, std::string_view upperPrefix) noexcept {
    if (name.size() < upperPrefix.size()) return false;
    for (size_t k = 0; k < upperPrefix.size(); ++k)
        if (UpCaseChar(name[k]) != upperPrefix[k]) return false;
    return true;
}

std::string_view TrimView(std::string_view s) noexcept {
    while (!s.empty() && static_cast<unsigned char>(s.front()) <= 0x20) s.remove_prefix(1);
    while (!s.empty() && static_cast<unsigned char>(s.back()) <= 0x20) s.remove_suffix(1);
    return s;
}

}  // namespace

size_t THttpTextFilterComponent::FilterBlock(std::string_view text, bool complete) {
    TFilterConditions& state = FilterConditions();
    TDelimiterFinder finder(text);
    size_t pos = 0;     // where the scan for the next delimiter starts
    size_t unwritten = 0;  // start of literal text not yet written (while the level writes)
    for (;;) {
        size_t open = finder.First(pos);
        if (open == TDelimiterFinder::npos) break;
        char delimiter = text[open];
        FCurrentDelimiter.store(delimiter, std::memory_order_relaxed);
        size_t close = finder.Next(delimiter, open + 1);
        size_t room = text.size() - open - 1;
        if (close == TDelimiterFinder::npos && !complete && room < EntryWindow) {
            // The closing delimiter may be in the next block: hand the rest back unfiltered.
            if (state.Writing()) WriteText(text, unwritten, open);
            return open;
        }
        bool closed = close != TDelimiterFinder::npos && close - open <= EntryWindow;
        std::string_view candidate;
        if (closed) candidate = text.substr(open + 1, close - open - 1);
        if (!closed || !IsEntryCandidate(candidate)) {
            // Plain text: the delimiter is copied with the text around it and may open the next entry.
            pos = open + 1;
            continue;
        }
        if (state.Writing()) WriteText(text, unwritten, open);
        HandleEntry(state, TrimView(candidate));
        pos = unwritten = close + 1;
    }
    // Everything after the last entry is copied whole, however long: text is never dropped.
    if (state.Writing()) WriteText(text, unwritten, text.size());
    return text.size();
}

void THttpTextFilterComponent::HandleEntry(TFilterConditions& state, std::string_view name) {
    auto condition = [this](const std::string& n) { return Condition(n); };
    char first = name.empty() ? '\0' : UpCaseChar(name[0]);
    if (first != 'I' && first != 'E') {
        // Not a directive: the usual entry, so it skips the keyword comparisons.
        if (state.Writing()) WriteValueEntry(std::string(name));
    } else if (StartsWithUpper(name, "IF ")) {
        state.If(std::string(TrimView(name.substr(2))), condition);
    } else if (name.substr(0, 7) == "ELSEIF ") {
        state.ElseIf(std::string(TrimView(name.substr(6))), condition);
    } else if (StartsWithUpper(name, "ELSE")) {
        state.Else();
    } else if (name.size() == 5 && StartsWithUpper(name, "ENDIF")) {
        state.EndIf();
    } else if (state.Writing()) {
        WriteValueEntry(std::string(name));
    }
}

bool THttpTextFilterComponent::Condition(const std::string& name) {
    bool value = false;
    if (OnHttpLogicalEntry) OnHttpLogicalEntry(this, name, value);
    return value;
}

}  // namespace velmora
