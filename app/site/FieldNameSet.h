// A set of form field names compared without regard to case, as the engines look fields up: a
// profile server hands "altcha" over as "ALTCHA", and the field must stay out of the mail alike.
#pragma once

#include <string>
#include <unordered_set>
#include <vector>

#include "SysUtils.h"

namespace velmora {

class TFieldNameSet {
public:
    explicit TFieldNameSet(const std::vector<std::string>& names) {
        for (const std::string& n : names) FNames.insert(UpperCase(n));
    }
    bool Contains(const std::string& name) const { return FNames.count(UpperCase(name)) != 0; }
    // Adds name; false when it (in any case) was there already.
    bool Insert(const std::string& name) { return FNames.insert(UpperCase(name)).second; }

private:
    std::unordered_set<std::string> FNames;
};

}  // namespace velmora
