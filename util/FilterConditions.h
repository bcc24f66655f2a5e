// The template filter's condition state: the table of open IF blocks of the calling thread and the
// four directives that change it. Each thread has its own table, so concurrent filters never meet.
#pragma once

#include <cstddef>
#include <functional>
#include <string>

namespace velmora {

// Level 0 is outside any IF; levels 1 to 31 are open IF blocks. An IF opened while 31 are open
// gets no row: it is only counted in Overflow, everything inside it is left out, and its ENDIF
// takes it off the count again, so the blocks below resume exactly as the template nests them.
struct TFilterConditions {
    static constexpr int MaxLevel = 31;

    int Level = 0;
    bool Output[MaxLevel + 1] = {true};   // text and entries at this level are written
    bool Pending[MaxLevel + 1] = {true};  // no branch of this level's IF has been taken yet
    size_t Overflow = 0;                  // IF blocks open beyond MaxLevel

    // True when text and value entries at the current position are written.
    bool Writing() const noexcept { return Overflow == 0 && Output[Level]; }

    // Outside any IF, writing, nothing pending: the state at the start of every template.
    void Reset() noexcept;

    // The directives. Condition is asked only when the enclosing levels write and (for ELSEIF)
    // no branch has been taken yet; it gets the condition's name as written, trimmed.
    using TCondition = std::function<bool(const std::string& name)>;
    void If(const std::string& name, const TCondition& condition);
    void ElseIf(const std::string& name, const TCondition& condition);
    void Else() noexcept;
    void EndIf() noexcept;

private:
    // Output of the level around the current one; the level outside level 0 does not write.
    bool Outer() const noexcept { return Level > 0 && Output[Level - 1]; }
};

// The calling thread's condition state.
TFilterConditions& FilterConditions() noexcept;

}  // namespace velmora
