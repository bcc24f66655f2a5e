// Tests of the cookie component's name rule: the cookie name follows the component's name only
// while the two agree.
#include <gtest/gtest.h>

#include "HttpCookie.h"

namespace velmora {
namespace {

TEST(HttpCookie, CookieNameFollowsComponentNameWhileTheyAgree) {
    THttpCookie fresh;
    fresh.SetName("Cookie1");
    EXPECT_EQ(fresh.CookieName, "Cookie1");  // empty cookie name and no previous name agree

    THttpCookie following;
    following.SetName("Cookie1");
    following.CookieName = "COOKIE1";  // same name in other case still counts as following
    following.SetName("Sess");
    EXPECT_EQ(following.CookieName, "Sess");
    EXPECT_EQ(following.Name(), "Sess");

    THttpCookie apart;
    apart.SetName("Cookie1");
    apart.CookieName = "Other";
    apart.SetName("Sess");
    EXPECT_EQ(apart.CookieName, "Other");
    apart.SetName("Other2");  // still apart: compared with the previous name "Sess"
    EXPECT_EQ(apart.CookieName, "Other");
}

}  // namespace
}  // namespace velmora
