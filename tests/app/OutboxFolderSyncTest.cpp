// The outbox folder's shared sync: posts that rename at the same time share one sync of the
// folder, each answered by a sync that began after its rename; a failed sync answers every post
// it covered with the error. Also posts kept from many threads at once, each whole when answered.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <fstream>
#include <mutex>
#include <set>
#include <stdexcept>
#include <thread>
#include <vector>

#include "Files.h"
#include "Outbox.h"
#include "OutboxFolderSync.h"
#include "TempDir.h"

using namespace velmora;
using namespace velmora::test;

namespace {

// A sync the test holds until it lets it go; each one's result comes from the row's script.
class ScriptedSync {
public:
    explicit ScriptedSync(std::vector<int> script) : FScript(std::move(script)) {}

    bool operator()() {
        std::unique_lock hold(FLock);
        const size_t n = FCalls++;
        FChanged.notify_all();
        FChanged.wait(hold, [&] { return FReleased > n; });
        const int result = n < FScript.size() ? FScript[n] : 1;
        if (result < 0) throw std::runtime_error("the disk went away");
        return result > 0;
    }
    void WaitForCalls(size_t n) {
        std::unique_lock hold(FLock);
        FChanged.wait(hold, [&] { return FCalls >= n; });
    }
    void Release() {
        std::lock_guard hold(FLock);
        ++FReleased;
        FChanged.notify_all();
    }
    size_t Calls() {
        std::lock_guard hold(FLock);
        return FCalls;
    }

private:
    std::vector<int> FScript;  // per sync: 1 succeeds, 0 fails, -1 throws
    std::mutex FLock;
    std::condition_variable FChanged;
    size_t FCalls = 0, FReleased = 0;
};

}  // namespace

TEST(OutboxFolderSync, PostsWaitingTogetherShareTheNextSyncAndItsResult) {
    constexpr int kWaiting = 6;
    struct Row {
        const char* what;
        std::vector<int> script;
        bool first, waiting;  // the first caller's answer; that of the callers who came during its sync
    } rows[] = {
        {"both syncs succeed", {1, 1}, true, true},
        {"the shared sync fails: every waiting post gets the error", {1, 0}, true, false},
        {"a failure of a sync begun before them is not theirs", {0, 1}, false, true},
        {"a sync that throws counts as failed for all it covered", {1, -1}, true, false},
    };
    for (const Row& row : rows) {
        ScriptedSync script(row.script);
        TGroupSync group([&] { return script(); });
        bool first = !row.first;
        std::thread firstPost([&] { first = group.Sync(); });
        script.WaitForCalls(1);
        // The others rename while the first sync runs: it may have begun before their renames.
        std::atomic<int> entered{0};
        std::vector<char> answers(kWaiting, 2);
        std::vector<std::thread> posts;
        for (int i = 0; i < kWaiting; ++i)
            posts.emplace_back([&, i] {
                ++entered;
                answers[i] = group.Sync();
            });
        while (entered < kWaiting) std::this_thread::yield();
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        EXPECT_EQ(script.Calls(), 1u) << row.what << ": a second sync began while the first ran";
        script.Release();
        script.WaitForCalls(2);
        script.Release();
        firstPost.join();
        for (std::thread& t : posts) t.join();
        EXPECT_EQ(first, row.first) << row.what;
        for (int i = 0; i < kWaiting; ++i) EXPECT_EQ(answers[i], row.waiting ? 1 : 0) << row.what << ", post " << i;
        EXPECT_EQ(script.Calls(), 2u) << row.what << ": the waiting posts share one sync";
    }
}

// Many threads keep mail at once: every answered name is a whole message in the folder, no two
// alike, and the folder holds exactly the answered ones.
TEST(OutboxFolderSync, ConcurrentlyKeptMailIsWholeInTheFolderWhenAnswered) {
    TempDir dir;
    const std::string folder = dir.Path() + "/box";
    constexpr int kThreads = 8, kEach = 15;
    std::vector<std::vector<std::string>> names(kThreads);
    std::atomic<int> broken{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t)
        threads.emplace_back([&, t] {
            TSmtpSendMail sender;
            sender.MailFrom = "form@example.org";
            sender.MailTo = "webmaster@example.org";
            sender.MailSubject = "post " + std::to_string(t);
            sender.MailBody().Add("Text of thread " + std::to_string(t));
            for (int i = 0; i < kEach; ++i) {
                names[t].push_back(QueueMail(folder, sender, TQueuedRelay{}));
                std::ifstream in(folder + "/" + names[t].back(), std::ios::binary);
                std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
                if (!text.starts_with("Velmora outbox 1\n") || !text.ends_with("\r\n.\r\n")) ++broken;
            }
        });
    for (std::thread& t : threads) t.join();
    EXPECT_EQ(broken, 0);
    std::set<std::string> answered;
    for (const auto& list : names) answered.insert(list.begin(), list.end());
    EXPECT_EQ(answered.size(), static_cast<size_t>(kThreads * kEach));
    std::set<std::string> listed;
    for (const TOutboxEntry& e : ListOutbox(folder)) listed.insert(e.Name);
    EXPECT_EQ(listed, answered);
    EXPECT_TRUE(ListFiles(folder + "/*.tmp").empty());
}
