// Tests of FilterText: the entry test, value entries and their order of lookup, the two events,
// the escaping of request values, and the generated values TIME, DATE and RANDOM_HIDDEN_INPUT.
#include <gtest/gtest.h>

#include <vector>

#include "FilterFixture.h"
#include "HtmlEscape.h"
#include "SysUtils.h"

namespace velmora::test {
namespace {

struct TCase {
    const char* Name;
    std::string Template;
    std::string Want;
};

TEST_F(FilterTest, EntriesAndPlainText) {
    Request.Variables = {{"REMOTE_ADDR", "10.0.0.1"}, {"EMPTY_VAR", ""}};
    Request.Fields = {{"text", "abc"}, {"blank", ""}, {"a-b", "dash"}, {"<x>", "angle"}};
    const std::vector<TCase> cases = {
        {"server variable", "Hello %REMOTE_ADDR%!", "Hello 10.0.0.1!"},
        {"percent signs in prose", "50% off, 20% more", "50% off, 20% more"},
        {"form field", "#text#", "abc"},
        {"empty form field", "[#blank#]", "[]"},
        {"missing field disappears", "[#nothing#]", "[]"},
        {"empty variable falls to field", "[%EMPTY_VAR%]", "[]"},
        {"lower-case if with blank is text", "%if SHOW%", "%if SHOW%"},
        {"empty name", "[%%]", "[]"},
        {"lone delimiter opens the next entry", "a%b c%text%", "a%b c" "abc"},
        {"other delimiter inside makes text", "#a%b#", "#a%b#"},
        {"dot makes text", "%a.b%", "%a.b%"},
        {"comma makes text", "%a,b%", "%a,b%"},
        {"control byte makes text", std::string("%a\tb%"), std::string("%a\tb%")},
        {"zero byte makes text", std::string("%a\0b%", 5), std::string("%a\0b%", 5)},
        {"dash and signs allowed", "%a-b%", "dash"},
        {"angle brackets are name bytes", "%<x>%", "angle"},
        {"8-bit name bytes allowed", "[%\xE9t\xE9%]", "[]"},
        {"unclosed delimiter", "tail %REMOTE_ADDR", "tail %REMOTE_ADDR"},
        {"hash and percent entries mixed", "%REMOTE_ADDR%#text#", "10.0.0.1abc"},
        {"blank after IF only", "%IF A B%x%ENDIF%", "%IF A BENDIF%"},
        {"two blanks after IF", "%IF  A%x%ENDIF%y", "y"},
        {"leading blank makes text", "% REMOTE_ADDR%", "% REMOTE_ADDR%"},
        {"IF without condition is a value", "[%IF %]", "[]"},
        {"empty entry then an entry", "%%%REMOTE_ADDR%", "10.0.0.1"},
    };
    for (const TCase& c : cases) EXPECT_EQ(Page(c.Template), c.Want) << c.Name;
}

TEST_F(FilterTest, LookupOrder) {
    // A variable reading the marker counts as missing and the form field is asked next.
    Request.Variables = {{"both", "from variable"}, {"marked", "#1NOT_AVAILABLE#1"}};
    Request.Fields = {{"both", "from field"}, {"marked", "field value"}};
    EXPECT_EQ(Page("%both%|%marked%"), "from variable|field value");
    EXPECT_EQ(Request.FieldLookups, std::vector<std::string>{"marked"});

    // Entries in a region that is not written are not looked up at all.
    Request.VariableLookups.clear();
    EXPECT_EQ(Page("%IF X%%both%%ENDIF%"), "");
    EXPECT_TRUE(Request.VariableLookups.empty());

    // "%time%" is an ordinary value entry: looked up, and not the time.
    Request.VariableLookups.clear();
    EXPECT_EQ(Page("[%time%]"), "[]");
    EXPECT_EQ(Request.VariableLookups, std::vector<std::string>{"time"});
}

TEST_F(FilterTest, EntryHandler) {
    std::vector<std::string> seen;
    TObject* sender = nullptr;
    Filter.OnHttpEntry = [&](TObject* s, const std::string& name, bool& handled) {
        sender = s;
        seen.push_back(name);
        EXPECT_TRUE(handled);
        if (name == "MINE") AdaptWrite("<b>mine</b>");  // the handler's own text is not escaped
        else handled = false;
    };
    Request.Variables = {{"REMOTE_ADDR", "10.0.0.1"}, {"MINE", "not asked"}};
    EXPECT_EQ(Page("%MINE% %REMOTE_ADDR% %IF X%%HIDDEN%%ENDIF%"), "<b>mine</b> 10.0.0.1 ");
    EXPECT_EQ(seen, (std::vector<std::string>{"MINE", "REMOTE_ADDR"}));
    EXPECT_EQ(sender, &Filter);
    EXPECT_EQ(Request.VariableLookups, std::vector<std::string>{"REMOTE_ADDR"});

    // An exception of the handler ends the filtering; what was written before stays.
    Filter.OnHttpEntry = [](TObject*, const std::string&, bool&) { throw Exception("stop"); };
    Request.Output.clear();
    FilterConditions().Reset();
    EXPECT_THROW(Filter.FilterText("before %X% after"), Exception);
    EXPECT_EQ(Request.Output, "before ");
}

TEST_F(FilterTest, RequestValuesAreEscaped) {
    Request.Variables = {{"HTTP_REFERER", "http://x/?a=1&b=<script>alert(\"1\")</script>'"}};
    Request.Fields = {{"comment", "<img src=x onerror=alert(1)>"}, {"RANDOM_HIDDEN_INPUT", "<evil>"},
                      {"plain", "nothing to escape"}};
    EXPECT_EQ(Page("<a href=\"%HTTP_REFERER%\">#comment#</a>"),
              "<a href=\"http://x/?a=1&amp;b=&lt;script&gt;alert(&quot;1&quot;)&lt;/script&gt;&#39;\">"
              "&lt;img src=x onerror=alert(1)&gt;</a>");
    // The template's own text, the generated element and plain values pass unchanged.
    EXPECT_EQ(Page("<p>%RANDOM_HIDDEN_INPUT%</p>#plain#"),
              "<p><INPUT TYPE=\"HIDDEN\" NAME=\"RANDOM_HIDDEN_INPUT\" VALUE=\"3605\"></p>nothing to escape");
}

TEST(HtmlEscapeTest, EveryByteAtEveryPlace) {
    // The escape test works on words; each byte value at each place of values of every short
    // length must still be seen, and only the five markup characters count.
    const std::string specials = "&<>\"'";
    for (size_t length = 1; length <= 20; ++length) {
        for (size_t at = 0; at < length; ++at) {
            for (int b = 0; b < 256; ++b) {
                std::string value(length, 'a');
                value[at] = static_cast<char>(b);
                bool special = specials.find(static_cast<char>(b)) != std::string::npos;
                ASSERT_EQ(NeedsHtmlEscape(value), special) << length << " / " << at << " / " << b;
                ASSERT_EQ(HtmlEscape(value) != value, special) << length << " / " << at << " / " << b;
            }
        }
    }
    EXPECT_FALSE(NeedsHtmlEscape(""));
    EXPECT_EQ(HtmlEscape("a&b<c>d\"e'f"), "a&amp;b&lt;c&gt;d&quot;e&#39;f");
}

// The escaping searches whole words and sixteen-byte rounds and resumes after each replaced
// byte, so two special bytes are put at every pair of places in values of every length around
// those sizes; the page and each search must match a byte-by-byte reading.
TEST(HtmlEscapeTest, TwoSpecialsAtEveryPairOfPlaces) {
    auto byByte = [](const std::string& s) {
        std::string out;
        for (char c : s) {
            switch (c) {
                case '&': out += "&amp;"; break;
                case '<': out += "&lt;"; break;
                case '>': out += "&gt;"; break;
                case '"': out += "&quot;"; break;
                case '\'': out += "&#39;"; break;
                default: out += c;
            }
        }
        return out;
    };
    const std::string specials = "&<>\"'";
    for (size_t length = 0; length <= 40; ++length) {
        for (size_t first = 0; first < length; ++first) {
            for (size_t second = first; second < length; ++second) {
                // Fillers one above a special after the word tests' changes ("#", "=", "?"),
                // where a borrow could flag a byte falsely, and a high byte.
                std::string value;
                for (size_t k = 0; k < length; ++k) value += "#=?a\x80"[k % 5];
                value[first] = specials[(first + second) % 5];
                value[second] = specials[second % 5];
                ASSERT_EQ(HtmlEscape(value), byByte(value)) << length << " / " << first << " / " << second;
                for (size_t from = 0; from <= length; ++from) {
                    size_t want = from <= first ? first : from <= second ? second : std::string::npos;
                    ASSERT_EQ(FindHtmlSpecial(value, from), want) << length << " / " << first << " / " << second
                                                                   << " from " << from;
                }
            }
        }
    }
}

TEST_F(FilterTest, GeneratedValues) {
    // 01:00:05 is 3605 seconds after midnight, also when the form has a field of that name.
    Request.Fields = {{"RANDOM_HIDDEN_INPUT", "posted"}};
    EXPECT_EQ(Page("%RANDOM_HIDDEN_INPUT%"),
              "<INPUT TYPE=\"HIDDEN\" NAME=\"RANDOM_HIDDEN_INPUT\" VALUE=\"3605\">");
    Filter.Time = EncodeDateTime(2024, 3, 9, 23, 59, 59, 999);
    EXPECT_EQ(Page("%RANDOM_HIDDEN_INPUT%"),
              "<INPUT TYPE=\"HIDDEN\" NAME=\"RANDOM_HIDDEN_INPUT\" VALUE=\"86399\">");
    Filter.Time = EncodeDateTime(2024, 3, 9, 0, 0, 0);
    EXPECT_EQ(Page("%RANDOM_HIDDEN_INPUT%"),
              "<INPUT TYPE=\"HIDDEN\" NAME=\"RANDOM_HIDDEN_INPUT\" VALUE=\"0\">");

    EXPECT_EQ(Page("%TIME%|%DATE%"), FormatLongTime(Filter.Time) + "|" + FormatShortDate(Filter.Time));
    // A server variable or form field of the same name wins over the clock.
    Request.Fields = {{"DATE", "posted date"}};
    EXPECT_EQ(Page("%DATE%"), "posted date");
}

TEST_F(FilterTest, CurrentDelimiterFollowsTheScan) {
    THttpFileFilter fresh;
    EXPECT_EQ(fresh.CurrentDelimiter(), '\0');
    fresh.FilterText("no delimiters");
    EXPECT_EQ(fresh.CurrentDelimiter(), '\0');
    fresh.FilterText("#a# 5%");
    EXPECT_EQ(fresh.CurrentDelimiter(), '%');
    fresh.FilterText("text");  // kept between calls
    EXPECT_EQ(fresh.CurrentDelimiter(), '%');
}

TEST_F(FilterTest, WritesBeforeThePageStayApart) {
    // The engine starts its header at the first write that begins with CR LF or, after blanks,
    // with "<": until such a write, each stretch of the template is a write of its own, so the
    // header comes at the same place; after it, writes may be gathered. A value from the request
    // is never header text: the header is started before it.
    Request.Variables = {{"V", "v"}, {"TAG", "<b>"}};
    Page("Status: %V%\r\n\r\n<p>%V%</p>%TAG%");
    EXPECT_EQ(Request.Writes, (std::vector<std::string>{"Status: ", "[header]", "v\r\n\r\n<p>v</p>&lt;b&gt;"}));
    Request.Writes.clear();
    Page("  %TAG%  <p>%V%");
    EXPECT_EQ(Request.Writes, (std::vector<std::string>{"  ", "[header]", "&lt;b&gt;  <p>v"}));

    // A handler's own writes come after the text before its entry and before the text after it
    // (everything gathered is handed over before any handler runs, also one that declines).
    Request.Writes.clear();
    Filter.OnHttpEntry = [](TObject*, const std::string& name, bool& handled) {
        handled = name == "H";
        if (handled) AdaptWrite("[H]");
    };
    Filter.OnHttpLogicalEntry = [](TObject*, const std::string&, bool& value) {
        AdaptWrite("[C]");
        value = true;
    };
    EXPECT_EQ(Page("<p>%V%%H%%IF C%x%ENDIF%</p>"), "<p>v[H][C]x</p>");
    EXPECT_EQ(Request.Writes, (std::vector<std::string>{"<p>", "v", "[H]", "[C]", "x</p>"}));
}

}  // namespace
}  // namespace velmora::test
