// THttpTextFilterComponent: copies template text to the current engine (through the adaptor
// routines) and replaces entries between two "%" or two "#" by values and conditional directives.
#pragma once

#include <atomic>
#include <cstddef>
#include <functional>
#include <string>
#include <string_view>

#include "Forms.h"
#include "System.h"

namespace velmora {

struct TFilterConditions;
class TFilterOutput;

// Called for each value entry in a written region. Handled enters true; a handler that leaves it
// true has dealt with the entry itself, one that sets it false lets the filter look the value up.
using THttpEntryEvent = std::function<void(TObject* sender, const std::string& entryName, bool& handled)>;
// Decides the condition of IF and ELSEIF; value enters false. Without a handler every condition is false.
using THttpLogicalEntryEvent = std::function<void(TObject* sender, const std::string& entryName, bool& value)>;

// One object may filter on several threads at once: the IF state is per thread (FilterConditions),
// and the only member the filter itself writes, CurrentDelimiter, is atomic.
class THttpTextFilterComponent : public TComponent {
public:
    explicit THttpTextFilterComponent(TComponent* owner = nullptr) : TComponent(owner) {}

    THttpEntryEvent OnHttpEntry;
    THttpLogicalEntryEvent OnHttpLogicalEntry;

    // The two delimiter characters; an entry opens and closes with the same one.
    static constexpr std::string_view Delimiters = "%#";
    // A closing delimiter is looked for only this many bytes after the opening one, so the
    // longest entry name is one byte shorter; a longer stretch is plain text.
    static constexpr size_t EntryWindow = 32000;

    // The delimiter found last (the zero character before the first); kept between calls.
    char CurrentDelimiter() const noexcept { return FCurrentDelimiter.load(std::memory_order_relaxed); }

    // Filters one complete block of text with the calling thread's current condition state.
    void FilterText(std::string_view text);

protected:
    // Filters text and returns how much of it was consumed. With complete false the text may
    // continue in a later block: the scan stops at an opening delimiter whose closing one could
    // still come, and the caller hands that rest over again with more text appended.
    // Output is gathered in out and all handed to the engine before the call returns.
    size_t FilterBlock(std::string_view text, bool complete, TFilterOutput& out);

    // The clock for TIME, DATE and RANDOM_HIDDEN_INPUT; tests replace it.
    virtual TDateTime CurrentTime() const { return Now(); }

private:
    size_t ScanBlock(std::string_view text, bool complete, TFilterOutput& out);
    void HandleEntry(TFilterConditions& state, std::string_view name, std::string& nameBuffer, TFilterOutput& out);
    bool Condition(const std::string& name, TFilterOutput& out);
    void WriteValueEntry(const std::string& name, TFilterOutput& out);

    std::atomic<char> FCurrentDelimiter{'\0'};
};

}  // namespace velmora
