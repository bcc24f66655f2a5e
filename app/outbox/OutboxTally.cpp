// How full each outbox folder is, as this process last counted it: one listing of the folder a
// second at most instead of one per kept mail, with the mail this process keeps added as it goes.
#include <algorithm>
#include <map>
#include <mutex>
#include <unordered_map>

#include "Files.h"
#include "Outbox.h"
#include "SysUtils.h"
#include "System.h"

namespace velmora {

namespace {

// Other processes (CGI starts, the flush command, another server) change the folder too: their
// mail is counted by the next listing, at most this long after it arrived.
constexpr uint64_t kListingLifeMs = 1000;
// A tally at the limit refuses mail: it is listed again sooner, but not for every refused post of a
// flood (a full listing reads every message's size).
constexpr uint64_t kFullListingLifeMs = 100;

// A message's contents never change (a retry renames it): its size is learnt once, from this
// process's own writing or one look at a file another process left, and kept by its id.
using TSizes = std::unordered_map<std::string, int64_t>;

struct TTally {
    bool Listed = false;
    uint64_t ListedAt = 0;
    int64_t Mails = 0, Bytes = 0;
    TSizes Sizes;  // the messages of the last listing, and those kept since
};

// Shared by the request threads of a resident engine; each folder's tally under one lock.
class TTallies {
public:
    std::string Full(const TOutboxSettings& outbox) {
        std::lock_guard hold(FLock);
        TTally& t = FTallies[outbox.Folder];
        uint64_t age = TickCount() - t.ListedAt;
        if (!t.Listed || age >= kListingLifeMs || (age >= kFullListingLifeMs && !Why(t, outbox).empty()))
            t = Listing(outbox.Folder, t.Sizes);
        return Why(t, outbox);
    }

    // name: a message just kept ("" for one removed), whose size the next listing then knows.
    void Add(const std::string& folder, int64_t mails, int64_t bytes, const std::string& name = "") {
        std::lock_guard hold(FLock);
        auto it = FTallies.find(folder);
        if (it == FTallies.end()) return;  // the next check lists the folder anyway
        it->second.Mails = std::max<int64_t>(it->second.Mails + mails, 0);
        it->second.Bytes = std::max<int64_t>(it->second.Bytes + bytes, 0);
        TOutboxEntry e;
        if (!name.empty() && ParseOutboxName(name, e)) it->second.Sizes[e.Id] = bytes;
    }

private:
    // Only messages this process has not seen before are looked at; known ids keep their size, and
    // ids no longer listed are forgotten.
    static TTally Listing(const std::string& folder, const TSizes& known) {
        TTally t;
        t.Listed = true;
        t.ListedAt = TickCount();
        for (const TOutboxEntry& e : ListOutbox(folder)) {
            auto it = known.find(e.Id);
            const int64_t size = it != known.end() ? it->second : GetFileStamp(folder + "/" + e.Name).Size;
            ++t.Mails;
            t.Bytes += size;
            t.Sizes.emplace(e.Id, size);
        }
        return t;
    }

    static std::string Why(const TTally& t, const TOutboxSettings& outbox) {
        if (t.Mails >= outbox.MaxMails)
            return "the outbox holds " + IntToStr(outbox.MaxMails) + " mails (outbox_max_mails)";
        if (t.Bytes >= static_cast<int64_t>(outbox.MaxMegabytes) * 1024 * 1024)
            return "the outbox holds " + IntToStr(outbox.MaxMegabytes) + " MB (outbox_max_megabytes)";
        return "";
    }

    std::mutex FLock;
    std::map<std::string, TTally> FTallies;
};

// Never destroyed: a request thread may still check while the program's statics go.
TTallies& Tallies() {
    static TTallies* tallies = new TTallies;
    return *tallies;
}

}  // namespace

std::string OutboxFull(const TOutboxSettings& outbox) { return Tallies().Full(outbox); }

void CountKeptMail(const std::string& folder, const std::string& name, int64_t bytes) {
    Tallies().Add(folder, 1, bytes, name);
}

void CountRemovedMail(const std::string& folder, int64_t bytes) { Tallies().Add(folder, -1, -bytes); }

}  // namespace velmora
