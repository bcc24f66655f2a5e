// One sync of a folder shared by the threads that need it at the same time (group commit): the
// outbox's posts each rename a message into the folder and must see the folder on disk before
// they answer, but one sync covers every rename made before it began.
#pragma once

#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

namespace velmora {

// Thread-safe; sync is called on one caller's thread at a time, never under the group's lock.
class TGroupSync {
public:
    explicit TGroupSync(std::function<bool()> sync) : FSync(std::move(sync)) {}
    // Returns once a sync that began after this call has ended, with that sync's result: what the
    // caller wrote before the call is on disk when it returns true.
    bool Sync();

private:
    struct TWaiter {
        bool Done = false, Ok = false;
    };
    std::function<bool()> FSync;
    std::mutex FLock;
    std::condition_variable FEnded;
    bool FSyncing = false;
    std::vector<TWaiter*> FWaiting;  // callers that came since the running sync began
};

// The outbox folder's entries written to disk, the sync shared with this process's other posts
// that wait for one at the same time.
bool SyncOutboxFolder(const std::string& folder);

}  // namespace velmora
