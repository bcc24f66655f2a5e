// Tests of URL coding and the form data look-ups: the documented cases plus the corners where a
// plausible implementation goes wrong (escapes at the end, "=" in values, zero bytes, 8-bit case).
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "FormData.h"

using namespace std::string_literals;

namespace velmora {
namespace {

struct Coding {
    std::string In, Want;
};

TEST(URLCoding, DecodesAndEncodesAsSpecified) {
    const std::vector<Coding> decode = {
        {"a+b%41%4a%zz%4", "a bAJ%zz%4"},
        {"%", "%"},
        {"%4", "%4"},
        {"%%41", "%A"},
        {"%00x", "\0x"s},
        {"%FF%fe", "\xFF\xFE"},
        {"100%", "100%"},
        {"", ""},
    };
    for (const auto& c : decode) EXPECT_EQ(URLDecode(c.In), c.Want) << "decode " << c.In;

    const std::vector<Coding> encode = {
        {"a b/c.d\\e", "a+b/c.d\\e"},
        {"x_y-z", "x%5Fy%2Dz"},
        {",:=\n", "%2C%3A%3D%0A"},
        {"+&%", "%2B%26%25"},
        {"\0\xFF"s, "%00%FF"},
    };
    for (const auto& c : encode) EXPECT_EQ(URLEncode(c.In), c.Want) << "encode " << c.In;
}

TEST(URLCoding, EveryByteSurvivesEncodeThenDecode) {
    std::string all;
    for (int b = 0; b < 256; ++b) all += static_cast<char>(b);
    EXPECT_EQ(URLDecode(URLEncode(all)), all);
}

struct Lookup {
    std::string Name, Data, Want;
};

TEST(FindFormValue, FindsEveryValueOfAField) {
    const std::string def = "DEF";
    const std::vector<Lookup> cases = {
        {"name", "Name=1&x=2&NAME=3", "1\r\n3"},
        {"  name \t", "Name=1&x=2&NAME=3", "1\r\n3"},
        {"a", "x&a=1", def},                    // a piece without "=" joins the next pair's name
        {"x&a", "x&a=1", "1"},
        {"a", "a=b=c", "b=c"},                  // only the first "=" separates
        {"a", "a=", ""},                        // present but empty is not the default
        {"a", "a", def},
        {"a", "", def},
        {"a", "%61=1&+a+=2&%20A%09=3", "1\r\n2\r\n3"},  // names compare decoded and trimmed
        {"a", "a=x+y%2B%zz", "x y+%zz"},
        {"a", "a=1&&a=2&", "1"},                // an empty piece joins too: the name is "&a"
        {"a", "a=1&x=&a=2", "1\r\n2"},
        {"b", "a=1\0&b=2"s, def},               // the look-up ends at a zero byte
        {"a", "a=1\0&a=2"s, "1"},
        {"\xE4", "%C4=big&%E4=small", "big\r\nsmall"},  // 8-bit letters compare upper-cased
        {"a", "a=1&a=%231NOT_AVAILABLE%231", "1"},      // a trailing value equal to the marker
        {"a", "a=%231NOT_AVAILABLE%231&a=2", "#1NOT_AVAILABLE#1\r\n2"},
    };
    // The indexed look-up the engines use must answer exactly as the scan.
    for (const auto& c : cases) {
        EXPECT_EQ(FindFormValue(c.Name, c.Data, def), c.Want) << "name [" << c.Name << "] in [" << c.Data << "]";
        EXPECT_EQ(FindFormValueIndexed(c.Name, c.Data, def), c.Want) << "indexed: [" << c.Name << "] in [" << c.Data << "]";
    }
    // A form rewritten in place (same string, same size) is indexed anew, and so is the next
    // request's form in the same place.
    std::string data = "a=1&b=2";
    EXPECT_EQ(FindFormValueIndexed("b", data, def), "2");
    data[6] = '3';
    EXPECT_EQ(FindFormValueIndexed("b", data, def), "3");
    data = "x=" + std::string(70000, 'x') + "&b=4";
    EXPECT_EQ(FindFormValueIndexed("b", data, def), "4");
    data.replace(data.size() - 1, 1, "5");
    ForgetFormIndex();
    EXPECT_EQ(FindFormValueIndexed("b", data, def), "5");
}

TEST(FindFormValue, FindsTheLastFieldOfALargeForm) {
    std::string data;
    for (int i = 0; i < 20000; ++i) data += "field" + std::to_string(i) + "=value+" + std::to_string(i) + "&";
    data += "last=the+end";
    EXPECT_EQ(FindFormValue("LAST", data, "-"), "the end");
    EXPECT_EQ(FindFormValue("field19999", data, "-"), "value 19999");
    EXPECT_EQ(FindFormValue("missing", data, "-"), "-");
}

struct Names {
    std::string Data;
    std::vector<std::string> Want;
};

TEST(ParseFormFieldNames, ListsNamesInOrderWithoutDirectRepeats) {
    const std::vector<Names> cases = {
        {"a=1&a=2&b=3&a=4", {"a", "b", "a"}},
        {"c&d=1", {"d"}},
        {"%41=1", {"A"}},
        {"", {}},
        {"a=1&A=2", {"a", "A"}},      // exact comparison, with case
        {"a=1&b&a=2", {"a"}},         // skipped pieces do not separate repeats
        {"=1&x+y=2&", {"", "x y"}},
        {"a=1\0&b=2"s, {"a", "b"}},
    };
    for (const auto& c : cases) {
        auto names = ParseFormFieldNames(c.Data);
        EXPECT_EQ(names->Items(), c.Want) << "data [" << c.Data << "]";
    }
}

}  // namespace
}  // namespace velmora
