// The Redis store against a real redis-server: its address forms, rate-limit windows counted as
// the file store counts them, single-use claims, namespaces, and what a post gets while the
// server is down, hung or refusing the login.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "FileBytes.h"
#include "HttpEng.h"
#include "MailSecurity.h"
#include "RedisServer.h"
#include "SharedStore.h"
#include "TempDir.h"

using namespace velmora;
using namespace velmora::test;

namespace {

TEST(RedisAddress, ReadsBothFormsAndNeverEchoesTheLogin) {
    struct Row {
        const char* Url;
        bool Ok;
        const char* Where;  // Describe(), or a part of the reason when refused
        const char* User;
        const char* Password;
    } rows[] = {
        {"redis://127.0.0.1:6380", true, "127.0.0.1:6380/0", "", ""},
        {"redis://cache.example", true, "cache.example:6379/0", "", ""},
        {"redis://:pa%40ss@10.0.0.5:7000/3", true, "10.0.0.5:7000/3", "", "pa@ss"},
        {"redis://:p@ss@10.0.0.5", true, "10.0.0.5:6379/0", "", "p@ss"},  // the last "@" ends the login
        {"redis://velmora:pw@[::1]:6390/1", true, "[::1]:6390/1", "velmora", "pw"},
        {"redis+unix:///run/redis/redis.sock", true, "unix:/run/redis/redis.sock/0", "", ""},
        {"redis+unix://:pw@/run/redis.sock?db=2", true, "unix:/run/redis.sock/2", "", "pw"},
        {"redis://127.0.0.1:0", false, "port", "", ""},
        {"redis://127.0.0.1:65536", false, "port", "", ""},
        {"redis://127.0.0.1:6379/x", false, "database", "", ""},
        {"redis://pwonly@host", false, "USER:PASSWORD", "", ""},
        {"redis://:bad%4@host", false, "hex digits", "", ""},
        {"redis://[::1:6379", false, "]", "", ""},
        {"redis://:secretword@", false, "host", "", ""},
        {"redis+unix://relative.sock", false, "absolute", "", ""},
        {"redis+unix:///run/r.sock?password=x", false, "db=N", "", ""},
        {"http://127.0.0.1:6379", false, "redis://", "", ""},
    };
    for (const Row& r : rows) {
        TRedisAddress a;
        std::string why;
        bool ok = ParseRedisAddress(r.Url, a, why);
        ASSERT_EQ(ok, r.Ok) << r.Url << ": " << why;
        if (ok) {
            EXPECT_EQ(a.Describe(), r.Where) << r.Url;
            EXPECT_EQ(a.User, r.User) << r.Url;
            EXPECT_EQ(a.Password, r.Password) << r.Url;
        } else {
            EXPECT_NE(why.find(r.Where), std::string::npos) << r.Url << ": " << why;
            EXPECT_EQ(why.find("secretword"), std::string::npos) << why;
        }
    }
}

// A password in the store value makes a VELMORA.CONF that others may read refused, as one with
// the relay's password is; the server's own group may read it (root:www-data 0640).
TEST(RedisAddress, APasswordMakesAReadableSiteFileRefused) {
    TempDir dir;
    const gid_t own = ::getegid(), other = own + 1;
    struct Row {
        const char* Store;
        mode_t Mode;
        gid_t Group;
        bool Refused;
    } rows[] = {
        {"redis://:pw@127.0.0.1:6379", 0644, own, true},
        {"redis://:pw@127.0.0.1:6379", 0600, own, false},
        {"redis://:pw@127.0.0.1:6379", 0640, own, false},
        {"redis://:pw@127.0.0.1:6379", 0640, other, true},
        {"redis://127.0.0.1:6379", 0644, own, false},
        {"file", 0644, own, false},
    };
    for (const Row& r : rows) {
        const std::string path = dir / "VELMORA.CONF";
        WriteWholeFile(path, std::string("store = ") + r.Store + "\n");
        ::chmod(path.c_str(), r.Mode);
        ASSERT_EQ(::chown(path.c_str(), static_cast<uid_t>(-1), r.Group), 0) << "the tests run as root";
        TSiteConfig site = TSiteConfig::ReadFile(path, GetFileStamp(path), nullptr);
        EXPECT_EQ(!MailSecurityRefusal(site).empty(), r.Refused) << r.Store << " " << std::oct << r.Mode;
    }
}

class SharedStore : public ::testing::Test {
protected:
    void SetUp() override {
        SetRequestLogEcho([this](const std::string& line) { log.push_back(line); });
    }
    void TearDown() override { SetRequestLogEcho(nullptr); }

    // The calling thread's store as VELMORA.CONF with these lines chooses it for a program in folder.
    static TStoreSettings Use(const std::string& conf, const std::string& folder = "/srv/site/") {
        TStoreSettings s = StoreSettings(TSiteConfig::Parse(conf, nullptr), folder);
        UseRequestStore(s);
        return s;
    }
    std::string Conf(const std::string& more = "") const { return "store = " + redis.Url() + "\n" + more; }
    int LinesWith(const std::string& text) const {
        int n = 0;
        for (const std::string& l : log) n += l.find(text) != std::string::npos;
        return n;
    }

    RedisServer redis;
    std::vector<std::string> log;
};

// The same posts through both stores give the same answers: admitted, or refused with the same
// seconds to wait (a second either way: the two read the clock at different moments).
TEST_F(SharedStore, CountsAsTheFileStoreCounts) {
    TempDir dir;
    Use(Conf());
    TRateLimit limit{.Posts = 2, .Seconds = 600};
    const char* posts[] = {"2001:DB8:0:0::1", "2001:db8::2", "2001:db8::1", "2001:db8:0:1::1", "192.0.2.7",
                           "::ffff:192.0.2.7", "192.0.2.7", "192.0.2.7", "not an address\r\n", "", ""};
    for (const char* address : posts) {
        long long now = std::chrono::duration_cast<std::chrono::seconds>(
                            std::chrono::system_clock::now().time_since_epoch()).count();
        long file = CountPost(dir / "VELMORA.RATE", address, limit, now);
        long shared = RedisCountPost(address, limit);
        EXPECT_EQ(file == 0, shared == 0) << address;
        EXPECT_NEAR(shared, file, 1) << address;
    }
    EXPECT_EQ(redis.Cli({"GET", "velmora:/srv/site/rate:2001:db8::/64"}), "2");
    long ttl = std::atol(redis.Cli({"TTL", "velmora:/srv/site/rate:192.0.2.7"}).c_str());
    EXPECT_GT(ttl, 590);
    EXPECT_LE(ttl, 600);
    EXPECT_TRUE(log.empty()) << log.front();
}

TEST_F(SharedStore, FiftyThreadsAtOnceAdmitExactlyTheLimit) {
    TStoreSettings store = Use(Conf());
    TRateLimit limit{.Posts = 7, .Seconds = 600};
    std::atomic<int> admitted{0}, failed{0};
    std::vector<std::thread> threads;
    for (int i = 0; i < 50; ++i)
        threads.emplace_back([&] {
            UseRequestStore(store);
            try {
                if (RedisCountPost("198.51.100.9", limit) == 0) ++admitted;
            } catch (const EStoreUnavailable&) {
                ++failed;
            }
        });
    for (auto& t : threads) t.join();
    EXPECT_EQ(failed, 0);
    EXPECT_EQ(admitted, 7);
}

// Two sites on one server: their own prefixes, or by default their program folders, keep them apart.
TEST_F(SharedStore, NamespacesKeepTwoSitesApart) {
    TRateLimit limit{.Posts = 1, .Seconds = 600};
    struct Row {
        const char* Folder;
        const char* Prefix;  // store_prefix line, "" for none
        bool Admitted;
    } rows[] = {
        {"/srv/a/", "", true},
        {"/srv/a/", "", false},
        {"/srv/b/", "", true},  // another folder: another site
        {"/srv/b/", "store_prefix = shop:\n", true},
        {"/srv/c/", "store_prefix = shop:\n", false},  // same prefix, another folder: one site
    };
    for (const Row& r : rows) {
        Use(Conf(r.Prefix), r.Folder);
        EXPECT_EQ(RedisCountPost("192.0.2.1", limit) == 0, r.Admitted) << r.Folder << " " << r.Prefix;
    }
    EXPECT_EQ(redis.Cli({"EXISTS", "shop:rate:192.0.2.1"}), "1");
}

TEST_F(SharedStore, ClaimsATokenOnceForItsRemainingLifetime) {
    time_t now = std::time(nullptr);
    struct Row {
        const char* Prefix;
        std::string Key;
        time_t Expires;
        EClaim Want;
    } rows[] = {
        {"a:", "challenge-1", now + 300, EClaim::Claimed},
        {"a:", "challenge-1", now + 300, EClaim::AlreadyUsed},
        {"b:", "challenge-1", now + 300, EClaim::Claimed},  // another site's token of the same text
        {"a:", "challenge-2", now - 50, EClaim::Claimed},   // past its end: kept a second, not for ever
        {"a:", std::string(513, 'k'), now + 300, EClaim::AlreadyUsed},
        {"a:", "", now + 300, EClaim::AlreadyUsed},
    };
    for (const Row& r : rows) {
        Use(Conf(std::string("store_prefix = ") + r.Prefix + "\n"));
        EXPECT_EQ(RedisClaimOnce(r.Key, r.Expires), r.Want) << r.Prefix << r.Key.substr(0, 20);
    }
    long ttl = std::atol(redis.Cli({"TTL", "a:used:challenge-1"}).c_str());
    EXPECT_GT(ttl, 290);
    EXPECT_LE(ttl, 300);
    EXPECT_LE(std::atol(redis.Cli({"PTTL", "a:used:challenge-2"}).c_str()), 1000);
    EXPECT_EQ(redis.Cli({"DBSIZE"}), "3");
}

// Redis stopped: limits throw (the caller lets the post through), claims are refused unless the
// site chose otherwise; one log line for the burst. Started again: counted again, and logged.
TEST_F(SharedStore, AStoppedServerIsLoggedOnceAndUsedAgainWhenBack) {
    TRateLimit limit{.Posts = 1, .Seconds = 600};
    Use(Conf());
    EXPECT_EQ(RedisCountPost("192.0.2.5", limit), 0);  // the thread's connection is open now
    redis.Stop();
    struct Row {
        const char* More;
        EClaim Want;
    } rows[] = {{"", EClaim::Unavailable}, {"store_fail_open = no\n", EClaim::Unavailable},
                {"store_fail_open = yes\n", EClaim::Claimed}, {"", EClaim::Unavailable}};
    for (const Row& r : rows) {
        Use(Conf(r.More));
        EXPECT_THROW(RedisCountPost("192.0.2.5", limit), EStoreUnavailable) << r.More;
        EXPECT_EQ(RedisClaimOnce("t", std::time(nullptr) + 60), r.Want) << r.More;
    }
    EXPECT_EQ(LinesWith("cannot be used"), 1) << ::testing::PrintToString(log);
    EXPECT_EQ(LinesWith("s3cret"), 0);

    redis.Start();
    std::this_thread::sleep_for(std::chrono::milliseconds(1100));  // the pause after a failed connect
    Use(Conf());
    EXPECT_EQ(RedisCountPost("192.0.2.5", limit), 0);  // a fresh server: a fresh window
    EXPECT_GT(RedisCountPost("192.0.2.5", limit), 0);
    EXPECT_EQ(LinesWith("/0 answers again"), 1) << ::testing::PrintToString(log);
}

// A server that takes the connection but never answers holds a post no longer than the timeout.
TEST_F(SharedStore, AHungServerCostsAtMostTheTimeout) {
    TRateLimit limit{.Posts = 5, .Seconds = 600};
    Use(Conf("store_timeout_ms = 300\n"));
    EXPECT_EQ(RedisCountPost("192.0.2.6", limit), 0);
    redis.Pause();
    for (const char* more : {"store_timeout_ms = 300\n", "store_timeout_ms = 100\n"}) {
        Use(Conf(more));
        auto start = std::chrono::steady_clock::now();
        EXPECT_THROW(RedisCountPost("192.0.2.6", limit), EStoreUnavailable);
        auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start).count();
        EXPECT_LT(ms, 1000) << more;
    }
    redis.Resume();
    EXPECT_EQ(LinesWith("no answer in time"), 1) << ::testing::PrintToString(log);
}

// One post's commands share store_timeout_ms: here each is answered 600 ms late, so a post's
// count fits a timeout of 1000 ms and its claim does not. A server that fell silent on an open
// connection then gets the pause of one that refused it, even if it answers again meanwhile.
TEST_F(SharedStore, APostsCommandsShareOneTimeout) {
    TRateLimit limit{.Posts = 5, .Seconds = 600};
    Use(Conf("store_timeout_ms = 1000\n"));
    EXPECT_EQ(RedisCountPost("192.0.2.7", limit), 0);  // the thread's connection is open now
    auto answerLate = [this] {
        redis.Pause();
        return std::thread([this] {
            std::this_thread::sleep_for(std::chrono::milliseconds(600));
            redis.Resume();
        });
    };
    Use(Conf("store_timeout_ms = 1000\n"));
    std::thread late = answerLate();
    EXPECT_EQ(RedisCountPost("192.0.2.7", limit), 0);
    late.join();
    late = answerLate();
    EXPECT_EQ(RedisClaimOnce("t", std::time(nullptr) + 60), EClaim::Unavailable);
    late.join();
    Use(Conf("store_timeout_ms = 1000\n"));
    EXPECT_THROW(RedisCountPost("192.0.2.7", limit), EStoreUnavailable);
}

TEST_F(SharedStore, ALoginOrAddressThatFailsIsOneClearLine) {
    struct Row {
        std::string Store;
        const char* Logged;
    } rows[] = {
        {redis.Url("wrong-password"), "refused the login: WRONGPASS"},
        {"redis://127.0.0.1:" + std::to_string(redis.Port()) + "/1", "NOAUTH"},  // no login at all
        {"redis://:wrong-password@127.0.0.1:1", "cannot connect"},
        {"redis://:wrong-password@127.0.0.1:99999", "not a Redis address: the port"},
    };
    for (const Row& r : rows) {
        log.clear();
        Use("store = " + r.Store + "\n");
        for (int post = 0; post < 3; ++post)
            EXPECT_THROW(RedisCountPost("192.0.2.8", TRateLimit{.Posts = 5, .Seconds = 60}), EStoreUnavailable);
        EXPECT_EQ(LinesWith(r.Logged), 1) << r.Store << ::testing::PrintToString(log);
        EXPECT_EQ(log.size(), 1u) << ::testing::PrintToString(log);
        EXPECT_EQ(LinesWith("wrong-password"), 0) << ::testing::PrintToString(log);
    }
}

}  // namespace
