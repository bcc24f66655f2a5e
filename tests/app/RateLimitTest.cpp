// The rate limit's counting: which client addresses count as one, and which address a full counts
// file forgets for a new one.
#include <gtest/gtest.h>

#include <fstream>

#include "FileBytes.h"
#include "RateLimit.h"
#include "TempDir.h"

using namespace velmora;
using namespace velmora::test;

namespace {

TEST(RateLimit, SpellingsOfOneClientShareAKey) {
    struct Row {
        const char* Address;
        int Prefix;
        const char* Key;
    } rows[] = {
        {"192.0.2.7", 64, "192.0.2.7"},
        {"::ffff:192.0.2.7", 64, "192.0.2.7"},        // IPv4-mapped: the IPv4 client itself
        {"::FFFF:C000:0207", 64, "192.0.2.7"},
        {"2001:DB8:0:0::1", 64, "2001:db8::/64"},     // upper case, zeros written out
        {"2001:db8::1", 64, "2001:db8::/64"},
        {"2001:db8:0:0:ffff:ab:cd:ef", 64, "2001:db8::/64"},  // another host of the same /64
        {"[2001:db8::1]", 64, "2001:db8::/64"},
        {"fe80::1%eth0", 64, "fe80::/64"},
        {"2001:db8:0:1::1", 64, "2001:db8:0:1::/64"},  // the next /64: another client
        {"2001:db8:0:1::1", 48, "2001:db8::/48"},
        {"2001:db8::1", 128, "2001:db8::1/128"},
        {"2001:db8:abcd:d234::1", 50, "2001:db8:abcd:c000::/50"},
        {"not an address\r\n", 64, "aadde"},           // never a blank or line break in the file
        {"", 64, "unknown"},
    };
    for (const Row& r : rows) EXPECT_EQ(RateLimitKey(r.Address, r.Prefix), r.Key) << r.Address << " /" << r.Prefix;
}

TEST(RateLimit, VariantsOfAnAddressAndItsNetworkCountTogether) {
    TempDir dir;
    TRateLimit limit{.Posts = 2, .Seconds = 600};
    const std::string file = dir / "VELMORA.RATE";
    EXPECT_EQ(CountPost(file, "2001:DB8:0:0::1", limit, 1000), 0);
    EXPECT_EQ(CountPost(file, "2001:db8::2", limit, 1001), 0);
    EXPECT_EQ(CountPost(file, "2001:db8::1", limit, 1002), 598);  // third from the same /64
    EXPECT_EQ(CountPost(file, "2001:db8:0:1::1", limit, 1002), 0);
    EXPECT_EQ(CountPost(file, "192.0.2.7", limit, 1003), 0);
    EXPECT_EQ(CountPost(file, "::ffff:192.0.2.7", limit, 1003), 0);
    EXPECT_GT(CountPost(file, "192.0.2.7", limit, 1004), 0);
}

// A full file: the address whose window began first but that posts still stays; the one seen
// longest ago makes room.
TEST(RateLimit, AFullFileForgetsTheAddressSeenLongestAgo) {
    TempDir dir;
    const std::string file = dir / "VELMORA.RATE";
    std::string text = "10.0.0.1 1000 2 1900\n";  // earliest window, seen lately
    text += "10.0.0.2 1500 1 1500\n";             // seen longest ago
    for (int i = 3; i <= 10000; ++i) text += "10.0." + std::to_string(i / 256) + "." + std::to_string(i % 256) + " 1600 1 1600\n";
    WriteWholeFile(file, text);
    TRateLimit limit{.Posts = 2, .Seconds = 3600};
    EXPECT_EQ(CountPost(file, "192.0.2.1", limit, 2000), 0);
    EXPECT_GT(CountPost(file, "10.0.0.1", limit, 2001), 0);   // still counted: refused
    EXPECT_EQ(CountPost(file, "10.0.0.2", limit, 2002), 0);   // forgotten: a fresh window
    EXPECT_EQ(CountPost(file, "10.0.0.2", limit, 2003), 0);
}

}  // namespace
