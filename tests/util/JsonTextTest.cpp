// JSON strings for script answers and the Accept test that chooses them: the cases where a wrong
// escape would break a script's JSON.parse or a browser would get JSON instead of a page.
#include <gtest/gtest.h>

#include "JsonText.h"

using namespace velmora;

TEST(JsonText, EscapesEveryByteIntoValidJson) {
    EXPECT_EQ(JsonString("a\"b\\c\r\n\t\x01\x7f"), "\"a\\\"b\\\\c\\r\\n\\t\\u0001\\u007f\"");
    EXPECT_EQ(JsonString("K\xC3\xB6ln \xF0\x9F\x98\x80"), "\"K\xC3\xB6ln \xF0\x9F\x98\x80\"");  // UTF-8 kept
    // Latin-1, a cut sequence, an overlong form and a surrogate are bytes, not characters.
    EXPECT_EQ(JsonString("K\xF6ln \xC3 \xC0\xAF \xED\xA0\x80"), "\"K\\u00f6ln \\u00c3 \\u00c0\\u00af \\u00ed\\u00a0\\u0080\"");
    EXPECT_TRUE(IsValidUtf8("K\xC3\xB6ln"));
    EXPECT_FALSE(IsValidUtf8("K\xF6ln"));
}

TEST(JsonText, JsonOnlyWhenPreferredToHtml) {
    EXPECT_TRUE(AcceptPrefersJson("application/json"));
    EXPECT_TRUE(AcceptPrefersJson("application/json, text/plain, */*"));
    EXPECT_TRUE(AcceptPrefersJson("text/html;q=0.5, Application/JSON"));
    EXPECT_FALSE(AcceptPrefersJson("text/html,application/xhtml+xml,application/xml;q=0.9,*/*;q=0.8"));
    EXPECT_FALSE(AcceptPrefersJson("*/*"));
    EXPECT_FALSE(AcceptPrefersJson(""));
    EXPECT_FALSE(AcceptPrefersJson("application/json;q=0, text/html"));
    EXPECT_FALSE(AcceptPrefersJson("text/html, application/json"));
}
