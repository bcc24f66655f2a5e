// The template scan: literal text is copied through AdaptWrite while the current IF level writes,
// each entry becomes a directive (IF, ELSEIF, ELSE, ENDIF) or a value, a lone delimiter stays text.
#include "HttpTextFilter.h"

#include "FilterConditions.h"
#include "FilterOutput.h"
#include "FilterScanner.h"

namespace velmora {

namespace {

void WriteText(TFilterOutput& out, std::string_view text, size_t from, size_t to) {
    if (to > from) out.Write(text.substr(from, to - from));
}

// The keywords are ASCII capitals and blanks, and the 8-bit upper-casing of names maps no byte
// but the small letter onto a capital, so the test needs no call per byte.
bool StartsWithUpper(std::string_view name, std::string_view upperPrefix) noexcept {
    if (name.size() < upperPrefix.size()) return false;
    for (size_t k = 0; k < upperPrefix.size(); ++k) {
        char c = name[k];
        char upper = upperPrefix[k];
        if (c != upper && !(upper >= 'A' && upper <= 'Z' && c == upper + ('a' - 'A'))) return false;
    }
    return true;
}

// Holds name in buffer for the lookups and handlers, which take a std::string: the buffer keeps
// its room from entry to entry, so a name costs a copy and never an allocation of its own.
const std::string& NameIn(std::string& buffer, std::string_view name) {
    buffer.clear();  // then append: the plain copy, where assign would allow for overlap
    return buffer.append(name);
}

std::string_view TrimView(std::string_view s) noexcept {
    while (!s.empty() && static_cast<unsigned char>(s.front()) <= 0x20) s.remove_prefix(1);
    while (!s.empty() && static_cast<unsigned char>(s.back()) <= 0x20) s.remove_suffix(1);
    return s;
}

}  // namespace

void THttpTextFilterComponent::FilterText(std::string_view text) {
    TFilterOutput out;
    FilterBlock(text, true, out);
}

size_t THttpTextFilterComponent::FilterBlock(std::string_view text, bool complete, TFilterOutput& out) {
    try {
        size_t done = ScanBlock(text, complete, out);
        out.Flush();
        return done;
    } catch (...) {
        // What was written before the failure reaches the engine, as if written at once.
        out.Flush();
        throw;
    }
}

size_t THttpTextFilterComponent::ScanBlock(std::string_view text, bool complete, TFilterOutput& out) {
    TFilterConditions& state = FilterConditions();
    TDelimiterFinder finder(text);
    std::string nameBuffer;  // this call's own: a handler may filter another text meanwhile
    size_t pos = 0;     // where the scan for the next delimiter starts
    size_t unwritten = 0;  // start of literal text not yet written (while the level writes)
    for (;;) {
        size_t open = FindDelimiter(text, pos);
        if (open == TDelimiterFinder::npos) break;
        char delimiter = text[open];
        FCurrentDelimiter.store(delimiter, std::memory_order_relaxed);
        // Most entries are a bare name closed right after it; the rest take the full test.
        size_t close = EntryEnd(text, open + 1);
        bool bare = close < text.size() && text[close] == delimiter && close - open <= EntryWindow;
        if (!bare) {
            close = finder.Next(delimiter, open + 1);
            size_t room = text.size() - open - 1;
            if (close == TDelimiterFinder::npos && !complete && room < EntryWindow) {
                // The closing delimiter may be in the next block: hand the rest back unfiltered.
                if (state.Writing()) WriteText(out, text, unwritten, open);
                return open;
            }
            bool closed = close != TDelimiterFinder::npos && close - open <= EntryWindow;
            if (!closed || !IsEntryCandidate(text.substr(open + 1, close - open - 1))) {
                // Plain text: the delimiter is copied with the text around it and may open the next entry.
                pos = open + 1;
                continue;
            }
        }
        std::string_view candidate = text.substr(open + 1, close - open - 1);
        if (state.Writing()) WriteText(out, text, unwritten, open);
        HandleEntry(state, TrimView(candidate), nameBuffer, out);
        pos = unwritten = close + 1;
    }
    // Everything after the last entry is copied whole, however long: text is never dropped.
    if (state.Writing()) WriteText(out, text, unwritten, text.size());
    return text.size();
}

void THttpTextFilterComponent::HandleEntry(TFilterConditions& state, std::string_view name,
                                           std::string& nameBuffer, TFilterOutput& out) {
    auto condition = [this, &out](const std::string& n) { return Condition(n, out); };
    // Only a name beginning with I or E (either case) can be a directive.
    char first = name.empty() ? '\0' : static_cast<char>(name[0] | 0x20);
    if (first != 'i' && first != 'e') {
        // Not a directive: the usual entry, so it skips the keyword comparisons.
        if (state.Writing()) WriteValueEntry(NameIn(nameBuffer, name), out);
    } else if (StartsWithUpper(name, "IF ")) {
        state.If(NameIn(nameBuffer, TrimView(name.substr(2))), condition);
    } else if (name.substr(0, 7) == "ELSEIF ") {
        state.ElseIf(NameIn(nameBuffer, TrimView(name.substr(6))), condition);
    } else if (StartsWithUpper(name, "ELSE")) {
        state.Else();
    } else if (name.size() == 5 && StartsWithUpper(name, "ENDIF")) {
        state.EndIf();
    } else if (state.Writing()) {
        WriteValueEntry(NameIn(nameBuffer, name), out);
    }
}

bool THttpTextFilterComponent::Condition(const std::string& name, TFilterOutput& out) {
    bool value = false;
    if (!OnHttpLogicalEntry) return value;
    out.Flush();  // the handler may write too, after the text before its entry
    OnHttpLogicalEntry(this, name, value);
    return value;
}

}  // namespace velmora
