// Tests of the log's way to the system log: the line's syslog form, and WriteLog following the route
// rule to a Unix datagram socket this test listens on, with the file as the fallback.
#include <gtest/gtest.h>

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <regex>

#include "HttpEng.h"
#include "LogTestSupport.h"
#include "SyslogListener.h"

namespace velmora {
namespace {

using test::SyslogListener;

TEST(EngineSyslog, LineForm) {
    TDateTime morning = EncodeDateTime(2026, 12, 8, 1, 2, 3);
    TDateTime evening = EncodeDateTime(2027, 5, 17, 23, 59, 58);
    std::string longText(5000, 'x');
    longText.replace(3999, 2, "\xC3\xA9");  // a two-byte character across the cut
    struct Case {
        const char* name;
        TDateTime when;
        std::string program;
        std::string text;
        std::string want;
    } cases[] = {
        {"mail.info, day padded with a blank", morning, "velmora", "Mail sent", "<22>Dec  8 01:02:03 velmora[42]: 7 : Mail sent"},
        {"two-digit day", evening, "velmora.cgi", "x", "<22>May 17 23:59:58 velmora.cgi[42]: 7 : x"},
        {"tag without blanks, brackets or colons", morning, "my form[1]: x", "t", "<22>Dec  8 01:02:03 myform1x[42]: 7 : t"},
        {"empty tag named velmora", morning, "::", "t", "<22>Dec  8 01:02:03 velmora[42]: 7 : t"},
        {"long tag cut to 32", morning, std::string(40, 'a'), "t", "<22>Dec  8 01:02:03 " + std::string(32, 'a') + "[42]: 7 : t"},
        {"long text cut before the character", morning, "v", longText,
         "<22>Dec  8 01:02:03 v[42]: 7 : " + std::string(3999, 'x') + "...[cut, 5000 bytes]"},
    };
    for (const Case& c : cases) EXPECT_EQ(SyslogLine(c.when, c.program, 42, 7, c.text), c.want) << c.name;
}

TEST(EngineSyslog, RouteDecidesWhereLinesGo) {
    test::TempDir dir;
    std::string logDir = test::UseLogDir(dir);
    std::string socketPath = dir.Path() + "/log.sock";
    SyslogListener listener(socketPath);
    std::string file = test::LogFileIn(logDir);
    struct Case {
        const char* name;
        TLogRoute route;
        bool wantSyslog, wantFile;
    } cases[] = {
        {"file only", {true, false, socketPath}, false, true},
        {"syslog only", {false, true, socketPath}, true, false},
        {"both", {true, true, socketPath}, true, true},
        // Nobody listens there: the line goes to the file rather than nowhere, saying so.
        {"syslog gone", {false, true, dir.Path() + "/none.sock"}, false, true},
    };
    for (const Case& c : cases) {
        unlink(file.c_str());
        TLogRoute route = c.route;
        SetLogRouteRule([route] { return route; });
        std::string marker = std::string("route-") + c.name;
        WriteLog(marker + "\r\nforged");
        std::vector<std::string> got = listener.Lines();
        if (c.wantSyslog) {
            ASSERT_EQ(got.size(), 1u) << c.name;
            EXPECT_TRUE(std::regex_match(got[0], std::regex("<22>[A-Z][a-z]{2} [ 1-3][0-9] \\d\\d:\\d\\d:\\d\\d [^ ]+\\[" +
                                                            std::to_string(getpid()) + "\\]: \\d+ : " + marker + "  forged")))
                << got[0];
        } else {
            EXPECT_TRUE(got.empty()) << c.name << ": " << got[0];
        }
        std::string text = test::ReadWholeFile(file);
        EXPECT_EQ(text.find(marker) != std::string::npos, c.wantFile) << c.name << ": " << text;
    }
    SetLogRouteRule(nullptr);
}

TEST(EngineSyslog, LinesTheRuleWritesFollowItsAnswer) {
    test::TempDir dir;
    std::string logDir = test::UseLogDir(dir);
    std::string socketPath = dir.Path() + "/log.sock";
    SyslogListener listener(socketPath);
    // A rule that logs (as a settings file it cannot read makes it) must not ask itself again.
    int asked = 0;
    SetLogRouteRule([&] {
        ++asked;
        WriteLog("from the rule");
        return TLogRoute{false, true, socketPath};
    });
    WriteLog("the line");
    SetLogRouteRule(nullptr);
    EXPECT_EQ(asked, 1);
    std::vector<std::string> got = listener.Lines();
    ASSERT_EQ(got.size(), 2u);
    EXPECT_NE(got[0].find(": from the rule"), std::string::npos) << got[0];
    EXPECT_NE(got[1].find(": the line"), std::string::npos) << got[1];
    EXPECT_EQ(test::ReadWholeFile(test::LogFileIn(logDir)), "");
}

}  // namespace
}  // namespace velmora
