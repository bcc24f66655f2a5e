// One site on two velmora FastCGI nodes behind nginx's round-robin upstream, sharing a real
// redis-server: the site's limit holds whichever node takes a post, fifty posts at once admit
// exactly the limit, and a Redis that stops costs no post and one log line per node.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <sstream>
#include <thread>

#include "RedisServer.h"
#include "SettingsFile.h"
#include "SecondNode.h"
#include "VelmoraSite.h"

using namespace velmora;
using namespace velmora::test;

namespace {

int CountOf(const std::string& text, const std::string& what) {
    int n = 0;
    for (size_t p = text.find(what); p != std::string::npos; p = text.find(what, p + 1)) ++n;
    return n;
}

class SeveralNodes : public ::testing::Test {
protected:
    void SetUp() override {
        FastCgiSetup setup{TServerKind::Nginx, 4};
        site = std::make_unique<VelmoraSite>(VELMORA_PROGRAM, std::vector<std::string>{}, std::vector<std::string>{},
                                             TwoNodeUpstream(), nullptr, &setup);
        site->WriteStandardSettings("nj");
        second = std::make_unique<SecondNode>(*site);
        node2 = second->Folder();
    }
    void TearDown() override {
        second->Stop();
        std::string errors = site->ServerErrors() + ReadWholeFile(site->Dir() + "/node2.out");
        EXPECT_EQ(errors.find("Sanitizer"), std::string::npos) << errors;
    }

    // Both nodes get the same VELMORA.CONF (private: it holds the Redis password); the second
    // node starts on its socket.
    void Configure(const std::string& conf) {
        for (const std::string& path : {site->CgiFile("VELMORA.CONF"), node2 + "VELMORA.CONF"}) {
            WriteWholeFile(path, "store = " + redis.Url() + "\nstore_prefix = shop:\n" + conf);
            ::chmod(path.c_str(), 0600);
        }
        second->Start(4);
    }
    HttpAnswer Post(const std::string& data) const { return site->Curl({"--data-binary", data}, second->Url()); }
    int32_t Counter(const std::string& folder) const { return ReadSettingsFile(folder + "VELMORA.INI")->Counter(); }
    std::string Log(const std::string& folder) const { return ReadWholeFile(folder + "Log/velmora.Log"); }
    static int Count(const std::string& text, const std::string& what) { return CountOf(text, what); }
    std::string Node1() const { return site->CgiFile(""); }

    RedisServer redis;
    std::unique_ptr<VelmoraSite> site;
    std::unique_ptr<SecondNode> second;
    std::string node2;
};

TEST_F(SeveralNodes, TheFourthAndFifthPostAreRefusedWhicheverNodeTakesThem) {
    // A generous timeout: on a loaded machine a slow answer must not count as an outage.
    Configure("rate_limit = 3/600\nstore_timeout_ms = 3000\n");
    int wants[] = {200, 200, 200, 429, 429};
    for (int i = 0; i < 5; ++i) {
        HttpAnswer a = Post("n=" + std::to_string(i));
        EXPECT_EQ(a.Status, wants[i]) << i << a.Headers << a.Body << site->ServerErrors();
        if (wants[i] == 429) {
            EXPECT_NE(a.Headers.find("Retry-After: 60"), std::string::npos) << a.Headers;  // 600 or just under
        }
    }
    EXPECT_EQ(site->Mails(4, 2000).size(), 3u);
    // Both nodes admitted posts (nginx alternates), and each kept its own counter.
    EXPECT_GE(Counter(Node1()), 1);
    EXPECT_GE(Counter(node2), 1);
    EXPECT_EQ(Counter(Node1()) + Counter(node2), 3);
    EXPECT_EQ(Count(Log(Node1()) + Log(node2), "refused: more than 3 in 600 seconds"), 2);
}

TEST_F(SeveralNodes, FiftyPostsAtOnceOverBothNodesAdmitExactlyTheLimit) {
    // A generous timeout: fifty posts on a loaded machine must not make the limit fail open.
    Configure("rate_limit = 10/600\nstore_timeout_ms = 3000\n");
    std::atomic<int> thanked{0}, refused{0};
    std::vector<std::thread> posts;
    for (int i = 0; i < 50; ++i)
        posts.emplace_back([&, i] {
            HttpAnswer a = Post("n=" + std::to_string(i));
            if (a.Status == 200 && a.Body.find(ThankYou) != std::string::npos) ++thanked;
            if (a.Status == 429) ++refused;
        });
    for (auto& t : posts) t.join();
    EXPECT_EQ(thanked, 10) << Log(Node1()) << Log(node2);
    EXPECT_EQ(refused, 40);
    EXPECT_EQ(site->Mails(11, 3000).size(), 10u);
    EXPECT_EQ(Counter(Node1()) + Counter(node2), 10);
    EXPECT_EQ(Count(Log(Node1()) + Log(node2), "cannot be used"), 0);
}

// Redis stopped: every post is answered at once and mailed (the limit lets it through), each node
// logs the failure once. Redis back (empty): the limit counts again from nothing.
TEST_F(SeveralNodes, ARedisThatStopsCostsNoPostAndIsLoggedOncePerNode) {
    Configure("rate_limit = 3/600\nstore_timeout_ms = 200\n");
    EXPECT_EQ(Post("n=1").Status, 200);
    EXPECT_EQ(Post("n=2").Status, 200);
    redis.Stop();
    for (int i = 3; i <= 8; ++i) {
        auto start = std::chrono::steady_clock::now();
        HttpAnswer a = Post("n=" + std::to_string(i));
        auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start).count();
        EXPECT_EQ(a.Status, 200) << a.Body;
        EXPECT_NE(a.Body.find(ThankYou), std::string::npos) << a.Body;
        EXPECT_LT(ms, 2000) << i;
    }
    EXPECT_EQ(site->Mails(8, 5000).size(), 8u);
    int down1 = Count(Log(Node1()), "cannot be used"), down2 = Count(Log(node2), "cannot be used");
    EXPECT_LE(down1, 1) << Log(Node1());
    EXPECT_LE(down2, 1) << Log(node2);
    EXPECT_GE(down1 + down2, 1);

    redis.Start();
    std::this_thread::sleep_for(std::chrono::milliseconds(1200));  // a node retries a second after a failure
    int statuses[5];
    for (int& s : statuses) s = Post("again").Status;
    EXPECT_EQ(std::count(statuses, statuses + 5, 200), 3);
    EXPECT_EQ(std::count(statuses, statuses + 5, 429), 2);
    EXPECT_EQ(Count(Log(Node1()) + Log(node2), "answers again"), down1 + down2);
}

// Commands a server at this loopback port has received and not yet read, one per connection: the
// kernel keeps them for a stopped server, so they show which posts are waiting on it.
int UnreadConnections(int port) {
    std::istringstream table(ReadWholeFile("/proc/net/tcp"));
    std::string line;
    std::getline(table, line);  // the heading
    int waiting = 0;
    while (std::getline(table, line)) {
        std::istringstream row(line);
        std::string slot, local, remote, state, queues;
        row >> slot >> local >> remote >> state >> queues;
        const bool ours = std::stoi(local.substr(local.find(':') + 1), nullptr, 16) == port;
        waiting += ours && state == "01" && std::stoul(queues.substr(queues.find(':') + 1), nullptr, 16) > 0;
    }
    return waiting;
}

// A hung store holds only the posts that wait for it, never the FastCGI server's other threads:
// two posts reach a stopped Redis together, where a lock around the store would hold the second
// back for the first's whole timeout.
TEST(SharedStoreFastCgi, AHungStoreHoldsNoOtherPostBehindIt) {
    RedisServer redis;
    FastCgiSetup setup{TServerKind::Nginx, 4};
    VelmoraSite site(VELMORA_PROGRAM, {}, {}, "", nullptr, &setup);
    site.WriteStandardSettings("nj");
    const std::string conf = site.CgiFile("VELMORA.CONF");
    WriteWholeFile(conf, "store = " + redis.Url() + "\nrate_limit = 100/600\nstore_timeout_ms = 60000\n");
    ::chmod(conf.c_str(), 0600);
    ASSERT_EQ(site.Post("n=0").Status, 200) << site.ServerErrors();
    redis.Pause();
    std::vector<std::thread> posts;
    std::atomic<int> thanked{0};
    for (int i = 1; i <= 2; ++i)
        posts.emplace_back([&, i] {
            thanked += site.Curl({"--max-time", "300", "--data-binary", "n=" + std::to_string(i)}, site.ProgramUrl()).Status == 200;
        });
    auto end = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (UnreadConnections(redis.Port()) < 2 && std::chrono::steady_clock::now() < end)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_EQ(UnreadConnections(redis.Port()), 2) << "the second post waited behind the first";
    redis.Resume();
    for (auto& t : posts) t.join();
    EXPECT_EQ(thanked, 2);
}

}  // namespace

// CGI starts are processes of one post each: an outage is still logged once, by the first start
// that meets it, and its end once, by the first start that finds the store again.
TEST(SharedStoreCgi, EachStartConnectsAndAnOutageIsLoggedOnce) {
    RedisServer redis;
    VelmoraSite site(VELMORA_PROGRAM, {});
    site.WriteStandardSettings("nj");
    const std::string conf = site.CgiFile("VELMORA.CONF");
    WriteWholeFile(conf, "store = " + redis.Url() + "\nrate_limit = 2/600\n");
    ::chmod(conf.c_str(), 0600);
    EXPECT_EQ(site.Post("n=1").Status, 200);
    redis.Stop();
    for (int i = 2; i <= 4; ++i) EXPECT_NE(site.Post("n=" + std::to_string(i)).Body.find(ThankYou), std::string::npos);
    EXPECT_EQ(CountOf(site.Log(), "cannot be used"), 1) << site.Log();
    redis.Start();
    int statuses[3];
    for (int& s : statuses) s = site.Post("again").Status;
    EXPECT_EQ(statuses[0], 200);
    EXPECT_EQ(statuses[1], 200);
    EXPECT_EQ(statuses[2], 429);
    EXPECT_EQ(CountOf(site.Log(), "answers again"), 1) << site.Log();
    EXPECT_FALSE(std::filesystem::exists(site.CgiFile("VELMORA.STOREDOWN")));
    EXPECT_EQ(site.Mails(7, 2000).size(), 6u);
}
