// THttpCookie's name rule: the cookie name tracks the component name until someone sets it apart.
// Comparison is upper-cased so "COOKIE1" still counts as following a component called "Cookie1".
#include "HttpCookie.h"

#include "SysUtils.h"

namespace velmora {

void THttpCookie::SetName(const std::string& newName) {
    TComponent::SetName(newName);
    if (Designing() && CookieName.empty())
        CookieName = newName;
    else if (UpperCase(FPreviousName) == UpperCase(CookieName))
        CookieName = newName;
    FPreviousName = newName;
}

}  // namespace velmora
