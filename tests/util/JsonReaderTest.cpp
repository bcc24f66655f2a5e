// The JSON reader against documents a hostile or broken peer could send: what it must take,
// what it must refuse, and that nothing it refuses is half-read.
#include <gtest/gtest.h>

#include "JsonReader.h"

using namespace velmora;

TEST(JsonReader, ReadsAndRefusesDocuments) {
    struct Case {
        std::string text;
        bool ok;
    } cases[] = {
        {R"({"success":true,"error-codes":[],"hostname":"x"})", true},
        {" \r\n\t{ \"a\" : [ 1 , -0.5e+3 , null , false , { } ] } \n", true},
        {R"("K\u00f6ln \ud83d\ude00 \/ \" \\ \b\f\n\r\t")", true},
        {"\"K\xC3\xB6ln\"", true},
        {"", false},
        {"{", false},
        {R"({"a":1,})", false},
        {R"([1,])", false},
        {R"({"a" 1})", false},
        {R"({'a':1})", false},
        {"{\"a\":1}x", false},
        {"{\"a\":1}{}", false},
        {"01", false},
        {"1.", false},
        {".5", false},
        {"-", false},
        {"1e", false},
        {"+1", false},
        {"1e999", false},
        {"NaN", false},
        {"tru", false},
        {"True", false},
        {"\"tab\there\"", false},
        {"\"K\xF6ln\"", false},           // Latin-1, not UTF-8
        {"\"\xED\xA0\x80\"", false},      // an encoded surrogate
        {R"("\ud83d")", false},           // high surrogate alone
        {R"("\ude00\ud83d")", false},     // the pair reversed
        {R"("\u12")", false},
        {R"("\x41")", false},
        {"\"unterminated", false},
        {R"({"success":false,"success":true})", false},  // two readers, two meanings
        {std::string(64, '[') + std::string(64, ']'), true},
        {std::string(66, '[') + std::string(66, ']'), false},
        {std::string(100000, '['), false},
    };
    for (const Case& c : cases) {
        std::string why;
        auto v = ParseJson(c.text, &why);
        EXPECT_EQ(v.has_value(), c.ok) << c.text.substr(0, 80) << ": " << why;
        if (!c.ok) {
            EXPECT_NE(why, "") << c.text.substr(0, 80);
        }
    }
}

TEST(JsonReader, GivesTheValues) {
    auto v = ParseJson(R"({"success": true, "n": -12.5e1, "s": "a\u00e9\ud83d\ude00", "list": [1, "two"], "o": {"x": null}})");
    ASSERT_TRUE(v);
    EXPECT_TRUE(v->Member("success")->IsTrue());
    EXPECT_EQ(v->Member("n")->Number, -125.0);
    EXPECT_EQ(v->Member("n")->Text, "-12.5e1");
    EXPECT_EQ(v->Member("s")->Text, "a\xC3\xA9\xF0\x9F\x98\x80");
    ASSERT_EQ(v->Member("list")->Items.size(), 2u);
    EXPECT_EQ(v->Member("list")->Items[1].Text, "two");
    EXPECT_EQ(v->Member("o")->Member("x")->Kind, TJsonValue::TKind::Null);
    EXPECT_EQ(v->Member("missing"), nullptr);
    // "success" must be the literal true: a string or a number saying so is not.
    for (const char* doc : {R"({"success":"true"})", R"({"success":1})", R"({"success":[true]})", R"([{"success":true}])"}) {
        auto d = ParseJson(doc);
        ASSERT_TRUE(d) << doc;
        const TJsonValue* s = d->Member("success");
        EXPECT_FALSE(s && s->IsTrue()) << doc;
    }
}
