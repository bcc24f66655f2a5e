// Tests of VELMORA.CONF: what a hand-written file may hold, what is reported and ignored, and that
// the cached reading follows the file's edits and reports who may read it.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include "FileBytes.h"
#include "LogText.h"
#include "SiteConfig.h"
#include "TempDir.h"

using namespace velmora;
using velmora::test::TempDir;
using velmora::test::WriteWholeFile;

TEST(SiteConfig, ReadsSettingsAndReportsBadLinesByNumber) {
    std::vector<std::string> log;
    auto sink = [&](const std::string& m) { log.push_back(m); };
    TSiteConfig c = TSiteConfig::Parse("\xEF\xBB\xBF# site options\r\n"
                                       "\r\n"
                                       "colour = blue\r\n"
                                       "form_relay = sometimes\r\n"
                                       "just words\r\n"
                                       "  FORM_RELAY =  Allow  \r\n",
                                       sink);
    EXPECT_EQ(c.Text("form_relay"), "allow");
    EXPECT_TRUE(c.IsSet("form_relay"));
    ASSERT_EQ(log.size(), 3u);
    EXPECT_NE(log[0].find("line 3: unknown key \"colour\""), std::string::npos) << log[0];
    EXPECT_NE(log[1].find("line 4: bad value \"sometimes\" for form_relay"), std::string::npos) << log[1];
    EXPECT_NE(log[2].find("line 5:"), std::string::npos) << log[2];

    // A bad value leaves the default; an undeclared key is a programming error.
    TSiteConfig bad = TSiteConfig::Parse("form_relay = yes\n", nullptr);
    EXPECT_EQ(bad.Text("form_relay"), "deny");
    EXPECT_FALSE(bad.IsSet("form_relay"));
    EXPECT_THROW(bad.Text("no_such_key"), std::logic_error);
    EXPECT_THROW(bad.Flag("form_relay"), std::logic_error);
}

TEST(SiteConfig, LoadFollowsEditsAndTellsWhoMayReadIt) {
    TempDir dir;
    std::string path = dir / "VELMORA.CONF";
    auto missing = LoadSiteConfig(path, nullptr);
    EXPECT_FALSE(missing->Exists());
    EXPECT_EQ(missing->Text("form_relay"), "deny");

    WriteWholeFile(path, "form_relay = allow\n");
    ::chmod(path.c_str(), 0600);
    auto first = LoadSiteConfig(path, nullptr);
    EXPECT_EQ(first->Text("form_relay"), "allow");
    EXPECT_FALSE(first->ReadableByOthers());
    EXPECT_EQ(LoadSiteConfig(path, nullptr), first);  // unchanged: the same reading

    WriteWholeFile(path, "form_relay = deny # no more\n");
    ::chmod(path.c_str(), 0644);
    auto second = LoadSiteConfig(path, nullptr);
    EXPECT_NE(second, first);
    EXPECT_TRUE(second->ReadableByOthers());
    EXPECT_FALSE(second->IsSet("form_relay"));  // "#" belongs to the value, which is then bad
}

TEST(LogText, CutsLongValuesMarkedAsCut) {
    EXPECT_EQ(ForLog("short"), "short");
    std::string cut = ForLog(std::string(9000, 'x'));
    EXPECT_EQ(cut, std::string(LogValueLimit, 'x') + "...[cut, 9000 bytes]");
    // Never half a character: "é" is two bytes and would straddle the limit.
    EXPECT_EQ(ForLog("a\xC3\xA9", 2), "a...[cut, 3 bytes]");
}

TEST(SiteConfig, UnknownKeysNameTheNearestKnownOne) {
    struct Case {
        const char* typed;
        const char* want;
    } cases[] = {
        {"tsl", "tls"},                        // two letters swapped
        {"smtp_pasword", "smtp_password"},     // one left out
        {"post-only", "post_only"},            // one changed
        {"outbox_max_mail", "outbox_max_mails"},
        {"smpt_pasword", "smtp_password"},     // two slips in a long name
        {"tlx_x", ""},                         // too far from anything for a short name
        {"colour", ""},
        {"rate_limit_ipv6", ""},               // a key's beginning is no slip
    };
    for (const Case& c : cases) EXPECT_EQ(NearestConfKey(c.typed), c.want) << c.typed;
    std::vector<std::pair<TConfProblem, std::string>> seen;
    TSiteConfig::ParseReporting("tsl = on\nlog = journal\nno equals\n", [&](TConfProblem kind, const std::string& m) {
        seen.emplace_back(kind, m);
    });
    ASSERT_EQ(seen.size(), 3u);
    EXPECT_EQ(seen[0], std::make_pair(TConfProblem::UnknownKey, std::string("VELMORA.CONF line 1: unknown key \"tsl\" ignored (did you mean tls?)")));
    EXPECT_EQ(seen[1].first, TConfProblem::BadValue);
    EXPECT_EQ(seen[2].first, TConfProblem::NotKeyValue);
}
