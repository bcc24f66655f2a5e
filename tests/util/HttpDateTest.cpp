// Tests of HttpDate: the GMT shift by the zone's rules (with and without daylight saving) and
// English names under a foreign locale.
#include <gtest/gtest.h>

#include <clocale>
#include <cstdlib>
#include <ctime>
#include <string>

#include "HttpDate.h"

namespace velmora {
namespace {

// Sets TZ for one test and puts the old value back.
class ZoneGuard {
public:
    explicit ZoneGuard(const char* tz) {
        if (const char* old = std::getenv("TZ")) FOld = old, FHadOld = true;
        setenv("TZ", tz, 1);
        tzset();
    }
    ~ZoneGuard() {
        if (FHadOld)
            setenv("TZ", FOld.c_str(), 1);
        else
            unsetenv("TZ");
        tzset();
    }

private:
    std::string FOld;
    bool FHadOld = false;
};

TEST(HttpDate, ShiftsLocalTimeToGmtByTheZoneRules) {
    {
        ZoneGuard zone("CET-1");  // one hour east of GMT, no daylight saving
        EXPECT_EQ(HttpDate(EncodeDateTime(2000, 1, 1, 0, 30, 0)), "Fri, 31 Dec 1999 23:30:00 GMT");
        EXPECT_EQ(HttpDate(EncodeDateTime(2000, 7, 1, 0, 30, 0)), "Fri, 30 Jun 2000 23:30:00 GMT");
    }
    {
        ZoneGuard zone("CET-1CEST,M3.5.0,M10.5.0/3");  // daylight saving only in summer
        EXPECT_EQ(HttpDate(EncodeDateTime(2026, 12, 6, 14, 50, 32)), "Sun, 06 Dec 2026 13:50:32 GMT");
        EXPECT_EQ(HttpDate(EncodeDateTime(2026, 7, 15, 2, 0, 5)), "Wed, 15 Jul 2026 00:00:05 GMT");
    }
    {
        ZoneGuard zone("EST5");  // west of GMT: the date moves forward
        EXPECT_EQ(HttpDate(EncodeDateTime(1999, 12, 31, 23, 59, 59)), "Sat, 01 Jan 2000 04:59:59 GMT");
    }
    {
        ZoneGuard zone("UTC0");
        // Fractions of a second are dropped, never rounded up into the next second.
        EXPECT_EQ(HttpDate(EncodeDateTime(2024, 2, 29, 9, 5, 7, 999)), "Thu, 29 Feb 2024 09:05:07 GMT");
    }
}

// Builds a German locale into a private folder so the test does not need it installed.
bool MakeGermanLocale(std::string& folder) {
    folder = std::string(VELMORA_BINARY_DIR) + "/tests/util/locale";
    std::string cmd = "mkdir -p '" + folder + "' && localedef -i de_DE -f UTF-8 '" + folder +
                      "/de_DE.UTF-8' >/dev/null 2>&1";
    return std::system(cmd.c_str()) == 0;
}

TEST(HttpDate, EnglishNamesUnderAForeignLocale) {
    std::string folder;
    if (!MakeGermanLocale(folder)) GTEST_SKIP() << "localedef could not build de_DE";
    setenv("LOCPATH", folder.c_str(), 1);
    ASSERT_NE(std::setlocale(LC_ALL, "de_DE.UTF-8"), nullptr);
    // The locale really names days in German: the routine must not use it.
    std::tm tm{};
    tm.tm_wday = 2;
    tm.tm_mon = 2;
    char buf[32];
    std::strftime(buf, sizeof buf, "%a %b", &tm);
    ASSERT_EQ(std::string(buf), "Di Mär");

    ZoneGuard zone("UTC0");
    EXPECT_EQ(HttpDate(EncodeDateTime(2026, 3, 3, 7, 8, 9)), "Tue, 03 Mar 2026 07:08:09 GMT");
    std::setlocale(LC_ALL, "C");
}

}  // namespace
}  // namespace velmora
