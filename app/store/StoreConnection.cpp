// One connection per thread: hiredis contexts are not shared, and a thread of a resident engine
// serves one request at a time. After a failed connect, or a connection that fell silent, the
// process waits a second before the next try, so while the store is down or hung posts are not
// each held up by a connect that will fail.
#include "internal/StoreConnection.h"

#include <chrono>
#include <functional>
#include <map>
#include <mutex>

#include "ExclusiveFile.h"
#include "Files.h"
#include "HttpEng.h"

namespace velmora {

namespace {

using TClock = std::chrono::steady_clock;
constexpr auto kRetryPause = std::chrono::seconds(1);

thread_local TRedisConnection tConnection;

// What the process's threads found of one server, shared by them all.
struct THealth {
    enum { Unknown, Answering, Failing } State = Unknown;
    bool OwnLine = false;            // this process logged the failure without the outage file
    TClock::time_point NextConnect;  // no connect is tried before
};
std::mutex gHealthLock;
std::map<std::string, THealth> gHealth;  // by the server's Describe(): a process talks to one or two

// Under the lock: the server's entry; updates it with change and answers what it was before.
THealth Health(const TStoreSettings& store, const std::function<void(THealth&)>& change = nullptr) {
    std::lock_guard<std::mutex> hold(gHealthLock);
    THealth& h = gHealth[store.Address.Describe()];
    THealth before = h;
    if (change) change(h);
    return before;
}

bool SameServer(const TRedisAddress& a, const TRedisAddress& b) {
    return a.Host == b.Host && a.Port == b.Port && a.UnixPath == b.UnixPath && a.Db == b.Db && a.User == b.User &&
           a.Password == b.Password;
}

std::string Name(const TStoreSettings& store) { return "Shared store redis " + store.Address.Describe(); }

// Whether this process is the first to see the outage. A CGI start is a process of one post, so
// the outage file beside the program carries "logged already" from one start to the next; where
// it cannot be made the process logs on its own.
bool FirstToFail(const TStoreSettings& store) {
    bool existed = false;
    try {
        if (!store.OutageFile.empty() && CreatePrivateFile(store.OutageFile, true, &existed)) return true;
    } catch (const std::exception&) {
    }
    if (existed) return false;
    Health(store, [](THealth& h) { h.OwnLine = true; });
    return true;
}

[[noreturn]] void Failed(const TStoreSettings& store, const std::string& why) {
    // The first failure after a good answer is logged, with what posts get meanwhile; the rest of
    // the burst is not, or a site posting while Redis is down would fill its log.
    THealth before = Health(store, [](THealth& h) {
        if (h.State != THealth::Failing) h.OwnLine = false;
        h.State = THealth::Failing;
    });
    if (before.State != THealth::Failing && FirstToFail(store))
        WriteLog(Name(store) + " cannot be used (" + why + "): rate limits " +
                 (store.LimitsFailOpen() ? "let posts through" : "refuse posts") + " and single-use tokens are " +
                 (store.ClaimsFailOpen() ? "taken unchecked" : "refused") + " until it can be reached");
    throw EStoreUnavailable(Name(store) + ": " + why);
}

// The first answer of a process (or after a failure) ends an outage another start may have logged.
void Answered(const TStoreSettings& store) {
    THealth before = Health(store, [](THealth& h) { h.State = THealth::Answering; });
    if (before.State == THealth::Answering) return;
    bool removed = !store.OutageFile.empty() && DeleteFile(store.OutageFile);
    if (removed || (before.State == THealth::Failing && before.OwnLine)) WriteLog(Name(store) + " answers again");
}

void HoldOffConnects(const TStoreSettings& store) {
    Health(store, [](THealth& h) { h.NextConnect = TClock::now() + kRetryPause; });
}

// True when the thread's connection was open already (it may have died since).
bool Connect(const TStoreSettings& store, TRedisDeadline deadline) {
    if (!store.Invalid.empty()) Failed(store, store.Invalid);
    if (tConnection.IsOpen() && SameServer(tConnection.Address(), store.Address)) return true;
    if (TClock::now() < Health(store).NextConnect) Failed(store, "it failed a moment ago");
    if (!tConnection.Open(store.Address, deadline)) {
        HoldOffConnects(store);
        Failed(store, tConnection.Error());
    }
    return false;
}

}  // namespace

TRedisReply StoreCommand(const TStoreSettings& store, const std::vector<std::string>& args) {
    const TRedisDeadline deadline = RequestStoreDeadline(store);
    if (TClock::now() >= deadline) Failed(store, "no time left of store_timeout_ms for this post");
    bool kept = Connect(store, deadline);
    TRedisReply reply;
    bool done = tConnection.Command(args, reply, deadline);
    // A kept connection finds out only now that the server restarted or dropped idle clients:
    // one fresh connection within the same deadline before the store counts as failing.
    if (!done && kept && TClock::now() < deadline) {
        Connect(store, deadline);
        done = tConnection.Command(args, reply, deadline);
    }
    if (!done) {
        // A server that takes connections but answers nothing (hung, or stopped while the kernel
        // still accepts) is as unusable as one that refuses them: the same pause before the next try.
        HoldOffConnects(store);
        Failed(store, tConnection.Error());
    }
    if (reply.Kind == TRedisReply::TKind::Error) Failed(store, args[0] + " refused: " + reply.Text);
    Answered(store);
    return reply;
}

}  // namespace velmora
