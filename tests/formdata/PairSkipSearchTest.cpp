// The boundary search of the multipart decoder against a plain search: the first place found
// must be the same wherever the needle falls against the stride of the pairs looked at.
#include <gtest/gtest.h>

#include <random>
#include <string>

#include "PairSkipSearch.h"

using namespace velmora;

namespace {

// The first t where needle stands in text and accept(t) holds, or -1: the answer wanted.
template <class Accept>
int PlainFind(const std::string& text, const std::string& needle, Accept accept) {
    for (size_t t = text.find(needle); t != std::string::npos; t = text.find(needle, t + 1))
        if (accept(static_cast<int>(t))) return static_cast<int>(t);
    return -1;
}

const auto kAll = [](int) { return true; };

TEST(PairSkipSearch, FindsTheFirstPlaceAsAPlainSearchDoes) {
    struct Case {
        const char* Name;
        std::string Text, Needle;
        int Want;
    };
    const Case cases[] = {
        {"at the start", "abcdefgh", "abc", 0},
        {"at the very end", "xxxxxxxxxxabc", "abc", 10},
        {"text shorter than the needle", "ab", "abc", -1},
        {"text exactly the needle", "--Boundary", "--Boundary", 0},
        {"absent", std::string(1000, 'x'), "--Boundary", -1},
        {"a near miss before the hit", "--Boundarx--Boundary", "--Boundary", 10},
        {"overlapping repeats", "aabaabaabaab", "baabaab", 2},
        {"needle of one repeated byte", "xx-----yy", "-----", 2},
        {"zero bytes around it", std::string("\0\0\0abc\0", 7), "abc", 3},
    };
    for (const Case& c : cases) {
        TPairSkipSearch search(c.Needle);
        EXPECT_EQ(search.Find(c.Text.data(), static_cast<int>(c.Text.size()), kAll), c.Want) << c.Name;
    }
}

// Every offset of the needle against the stride, among look-alike bytes, and an accept that
// turns down the first places found: the search must go on to the next, never skip one.
TEST(PairSkipSearch, AgreesWithAPlainSearchOnRandomText) {
    std::mt19937 rnd(7);
    for (const std::string needle : {"abc", "abab", "--xyz", "----WebKitFormBoundaryQ", "aaaaab"}) {
        TPairSkipSearch search(needle);
        for (int round = 0; round < 400; ++round) {
            std::string text(static_cast<size_t>(rnd() % 200), 'a');
            for (char& ch : text) ch = needle[rnd() % needle.size()];
            const size_t at = rnd() % (text.size() + 1);
            text.insert(at, needle);
            const int refuse = static_cast<int>(rnd() % 3);  // places turned down before one is taken
            int seen = 0;
            const auto accept = [&](int) { return seen++ >= refuse; };
            const int want = [&] {
                int plainSeen = 0;
                return PlainFind(text, needle, [&](int) { return plainSeen++ >= refuse; });
            }();
            EXPECT_EQ(search.Find(text.data(), static_cast<int>(text.size()), accept), want)
                << "needle " << needle << " in " << text;
        }
    }
}

}  // namespace
