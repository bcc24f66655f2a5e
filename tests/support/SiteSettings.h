// The settings file every test site and benchmark starts from: one sender, one recipient, one
// subject, mailed through the relay on 127.0.0.1 at the given port. Callers add what they vary.
#pragma once

#include <string>

#include "SettingsFile.h"

namespace velmora::test {

inline TMailSettings SiteMailSettings(int relayPort) {
    TMailSettings s;
    s.Set(TMailField::mailfrom, "form@example.org");
    s.Set(TMailField::mailto, "webmaster@example.org");
    s.Set(TMailField::mailsubject, "Web form");
    s.Set(TMailField::mailhost, "127.0.0.1");
    s.Set(TMailField::mailport, std::to_string(relayPort));
    return s;
}

}  // namespace velmora::test
