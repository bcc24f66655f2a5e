// The shared folder sync: callers queue, the first one that finds no sync running syncs for all
// queued so far, and the rest wait for the sync that covers them.
#include "OutboxFolderSync.h"

#include <map>
#include <memory>

#include "ExclusiveFile.h"

namespace velmora {

bool TGroupSync::Sync() {
    TWaiter me;
    std::unique_lock hold(FLock);
    FWaiting.push_back(&me);
    while (!me.Done) {
        // A running sync may have begun before this caller's write: only the next one covers it.
        if (FSyncing) {
            FEnded.wait(hold);
            continue;
        }
        std::vector<TWaiter*> batch;
        batch.swap(FWaiting);
        FSyncing = true;
        hold.unlock();
        bool ok = false;
        try {
            ok = FSync();
        } catch (...) {
            ok = false;  // a sync that cannot say it succeeded failed, for everyone it covered
        }
        hold.lock();
        FSyncing = false;
        for (TWaiter* w : batch) {
            w->Ok = ok;
            w->Done = true;
        }
        FEnded.notify_all();
    }
    return me.Ok;
}

bool SyncOutboxFolder(const std::string& folder) {
    static std::mutex lock;
    // Never destroyed: a request thread may still sync while the program's statics go.
    static auto* groups = new std::map<std::string, std::unique_ptr<TGroupSync>>;
    TGroupSync* group = nullptr;
    {
        std::lock_guard hold(lock);
        auto& slot = (*groups)[folder];
        if (!slot) slot = std::make_unique<TGroupSync>([folder] { return SyncFolder(folder); });
        group = slot.get();
    }
    return group->Sync();
}

}  // namespace velmora
