// Tests of the conditional directives: branch choice and which conditions are asked, unbalanced
// and too deeply nested templates, and the per-thread condition state.
#include <gtest/gtest.h>

#include <algorithm>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

#include "FilterFixture.h"

namespace velmora::test {
namespace {

TEST_F(FilterTest, BranchesAndAskedConditions) {
    struct TBranchCase {
        const char* Template;
        const char* TrueNames;
        const char* Want;
        const char* Asked;
    };
    const TBranchCase cases[] = {
        {"%IF SHOW%A%ELSE%B%ENDIF%", "", "B", "SHOW"},
        {"%IF SHOW%A%ELSE%B%ENDIF%", "SHOW", "A", "SHOW"},
        {"%IF A%1%ELSEIF B%2%ELSE%3%ENDIF%", "A,B", "1", "A"},
        {"%IF A%1%ELSEIF B%2%ELSE%3%ENDIF%", "B", "2", "A,B"},
        {"%IF A%1%ELSEIF B%2%ELSE%3%ENDIF%", "", "3", "A,B"},
        {"%IF A%1%ELSEIF B%2%ELSEIF C%3%ENDIF%", "B,C", "2", "A,B"},
        {"%IF A%x%IF B%y%ENDIF%z%ENDIF%", "B", "", "A"},
        {"%IF A%x%IF B%y%ENDIF%z%ENDIF%", "A", "xz", "A,B"},
        {"%IF A%x%IF B%y%ELSE%n%ENDIF%z%ENDIF%", "A,B", "xyz", "A,B"},
        {"%IF A%%ELSE%x%IF B%y%ENDIF%%ENDIF%", "A,B", "", "A"},
        // Condition names keep their case; ELSE is any word starting with else, in any case.
        {"%IF Show%a%elsewhere%b%endif%c", "Show", "ac", "Show"},
        {"%IF A%a%eLsE%b%EnDiF%c", "", "bc", "A"},
        // An 8-bit capital or small letter is no keyword letter: these are value entries.
        {"%IF A%a%\xC9LSE%b%\xE9lse%c%ENDIF%d", "", "d", "A"},
        {"%IF A%a%ELSEIF%b%ENDIF%", "", "b", "A"},
        {"%IF A%a%ELSE%b%ELSE%c%ENDIF%", "", "b", "A"},
        {"#IF A#a#ELSE#b#ENDIF#", "A", "a", "A"},
        {"%IF A%a#ELSE#b%ENDIF%", "", "b", "A"},
    };
    for (const TBranchCase& c : cases) {
        std::string asked;
        Filter.OnHttpLogicalEntry = Conditions(c.TrueNames, &asked);
        EXPECT_EQ(Page(c.Template), c.Want) << c.Template << " true: " << c.TrueNames;
        EXPECT_EQ(asked, c.Asked) << c.Template;
    }
    // The value enters false, and without a handler every condition is false.
    Filter.OnHttpLogicalEntry = [](TObject*, const std::string&, bool& value) { EXPECT_FALSE(value); };
    EXPECT_EQ(Page("%IF A%a%ENDIF%"), "");
    Filter.OnHttpLogicalEntry = nullptr;
    EXPECT_EQ(Page("%IF A%a%ELSEIF B%b%ENDIF%"), "");
}

TEST_F(FilterTest, UnbalancedDirectives) {
    Filter.OnHttpLogicalEntry = Conditions("T");
    // ELSE or ELSEIF outside any IF switch output off until an ENDIF, which switches it on.
    EXPECT_EQ(Page("%ELSE%x%ENDIF%y"), "y");
    EXPECT_EQ(Page("a%ELSEIF T%x%ENDIF%y"), "ay");
    // Surplus ENDIFs only switch output back on.
    EXPECT_EQ(Page("a%ENDIF%%ENDIF%b%IF T%c%ENDIF%%ENDIF%d"), "abcd");
    EXPECT_EQ(FilterConditions().Level, 0);
    // An IF left open stays open to the end of the text and is not closed for the next call.
    EXPECT_EQ(Page("a%IF F%b"), "a");
    EXPECT_EQ(FilterConditions().Level, 1);
    Filter.FilterText("still off");
    EXPECT_EQ(Request.Output, "a");
}

TEST_F(FilterTest, NestingDeeperThanTheLevelTable) {
    // 40 nested IFs, all true: levels 1 to 31 behave normally; text inside the blocks opened
    // beyond them is left out (their conditions are not asked), and their ENDIFs close them
    // without disturbing the levels below.
    std::string asked;
    Filter.OnHttpLogicalEntry = Conditions("C", &asked);
    std::string text, want;
    for (int i = 1; i <= 40; ++i) {
        text += "%IF C%<" + std::to_string(i) + ">";
        if (i <= TFilterConditions::MaxLevel) want += "<" + std::to_string(i) + ">";
    }
    text += "%ELSE%deep-else";
    for (int i = 40; i >= 1; --i) {
        text += "%ENDIF%</" + std::to_string(i) + ">";
        if (i <= TFilterConditions::MaxLevel + 1) want += "</" + std::to_string(i) + ">";
    }
    EXPECT_EQ(Page(text + "%IF C%after%ENDIF%"), want + "after");
    EXPECT_EQ(std::count(asked.begin(), asked.end(), 'C'), TFilterConditions::MaxLevel + 1);
    EXPECT_EQ(FilterConditions().Level, 0);
    EXPECT_EQ(FilterConditions().Overflow, 0u);

    // Thousands of IFs that are never closed: the table keeps its 32 rows, the rest is counted.
    std::string deep;
    for (int i = 0; i < 5000; ++i) deep += "%IF C%x";
    Page(deep + "%ELSE%%ELSEIF C%");
    EXPECT_EQ(FilterConditions().Level, TFilterConditions::MaxLevel);
    EXPECT_EQ(FilterConditions().Overflow, 5000u - TFilterConditions::MaxLevel);
}

TEST_F(FilterTest, ConditionStateIsPerThread) {
    // Thread A stops inside the condition of an IF (its level 1 already open, not writing);
    // thread B filters meanwhile and leaves its own level 0 switched off; A then resumes.
    std::mutex m;
    std::condition_variable cv;
    int step = 0;
    auto waitFor = [&](int s) {
        std::unique_lock<std::mutex> lock(m);
        cv.wait(lock, [&] { return step >= s; });
    };
    auto advance = [&] {
        std::lock_guard<std::mutex> lock(m);
        ++step;
        cv.notify_all();
    };
    Filter.OnHttpLogicalEntry = [&](TObject*, const std::string& name, bool& value) {
        if (name == "WAIT") {
            advance();
            waitFor(2);
        }
        value = false;
    };
    std::string outA, outB;
    std::thread a([&] {
        TFakeRequest request;
        FilterConditions().Reset();
        Filter.FilterText("a1%IF WAIT%hidden");
        Filter.FilterText("%ENDIF%a2");
        outA = request.Output;
    });
    std::thread b([&] {
        waitFor(1);
        TFakeRequest request;
        FilterConditions().Reset();
        Filter.FilterText("%IF OFF%x%ELSE%b1%ENDIF%%ELSE%");
        outB = request.Output;
        advance();
    });
    a.join();
    b.join();
    EXPECT_EQ(outA, "a1a2");
    EXPECT_EQ(outB, "b1");
}

}  // namespace
}  // namespace velmora::test
