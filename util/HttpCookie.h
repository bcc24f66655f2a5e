// THttpCookie: the cookie component (name, domain, path, secure and coding settings). The engine
// makes one per request as the session cookie; nothing here writes a cookie header.
#pragma once

#include <string>

#include "Component.h"

namespace velmora {

class THttpCookie : public TComponent {
public:
    using TComponent::TComponent;

    std::string CookieName;
    std::string Domain;
    std::string Path;
    bool Secure = false;
    bool Coded = false;
    int CodeKey = 0;

    // Renames the component; CookieName follows the component's name for as long as the two
    // agree (compared upper-cased), so a renamed cookie keeps a name the user never changed.
    void SetName(const std::string& newName) override;

private:
    std::string FPreviousName;  // the component name set last
};

}  // namespace velmora
