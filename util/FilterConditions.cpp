// The four directives of the template language acting on the calling thread's level table.
// A branch is written only while every enclosing level writes; at most one branch of a block is taken.
#include "FilterConditions.h"

namespace velmora {

TFilterConditions& FilterConditions() noexcept {
    thread_local TFilterConditions state;
    return state;
}

void TFilterConditions::Reset() noexcept {
    Level = 0;
    Output[0] = true;
    Pending[0] = true;
    Overflow = 0;
}

void TFilterConditions::If(const std::string& name, const TCondition& condition) {
    if (Overflow > 0 || Level == MaxLevel) {
        ++Overflow;
        return;
    }
    ++Level;
    Pending[Level] = true;
    // Off until the condition is known, so a handler that throws leaves nothing switched on.
    Output[Level] = false;
    if (Outer()) {
        Output[Level] = condition(name);
        Pending[Level] = !Output[Level];
    }
}

void TFilterConditions::ElseIf(const std::string& name, const TCondition& condition) {
    if (Overflow > 0) return;
    bool ask = Pending[Level] && Outer();
    Output[Level] = false;
    if (ask) {
        Output[Level] = condition(name);
        Pending[Level] = !Output[Level];
    }
}

void TFilterConditions::Else() noexcept {
    if (Overflow > 0) return;
    if (Pending[Level] && Outer()) {
        Output[Level] = true;
        Pending[Level] = false;
    } else {
        Output[Level] = false;
    }
}

void TFilterConditions::EndIf() noexcept {
    if (Overflow > 0) {
        --Overflow;
        return;
    }
    Output[Level] = true;
    Pending[Level] = true;
    if (Level > 0) --Level;
}

}  // namespace velmora
