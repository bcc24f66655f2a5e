// Spare message files of a resident process's outbox: a delivered message's file is renamed to a
// spare name, and the next kept mail is written into it, instead of an inode freed and allocated.
#include <atomic>
#include <bit>
#include <map>
#include <memory>
#include <mutex>

#include "Files.h"
#include "Outbox.h"
#include "SpareFile.h"

namespace velmora {

namespace {

// Enough for the posts between two syncs of the sender at the relay's pace; a spare costs its last
// message's blocks.
constexpr unsigned kSpareFiles = 64;
// Spares kept since the folder was last synced after which the sender syncs it, so that posts
// can take them while the sender is still working through a long batch.
constexpr int kSyncEvery = 8;
constexpr int64_t kLargestSpare = 64 * 1024;

// Per folder, which spare names this process believes hold a file; only a hint, since another
// process may take or leave one, and the rename that takes or makes a spare settles it. A spare
// is Pending until the folder is next written to disk: before that, a machine crash could bring
// back the delivered message's name on that very inode, and a new message written into it would
// come back as a torn message under the old name. Only Ready spares are taken.
struct TSpareHint {
    // A spare a former run left is found when a delivered file is about to take its name.
    std::atomic<uint64_t> Ready{0}, Pending{0};
};

TSpareHint* SpareHint(const std::string& folder, bool create) {
    static std::mutex lock;
    static std::map<std::string, std::unique_ptr<TSpareHint>> hints;
    std::lock_guard hold(lock);
    auto it = hints.find(folder);
    if (it != hints.end()) return it->second.get();
    return create ? (hints[folder] = std::make_unique<TSpareHint>()).get() : nullptr;
}

std::string SpareName(const std::string& folder, unsigned slot) {
    return folder + "/spare-" + std::to_string(slot) + kSpareSuffix;
}

}  // namespace

bool KeepAsSpare(const std::string& folder, const std::string& path, int64_t bytes) {
    // A large message's blocks are not worth keeping for the many small ones.
    if (bytes > kLargestSpare) return false;
    TSpareHint& hint = *SpareHint(folder, true);
    for (unsigned slot = 0; slot < kSpareFiles; ++slot) {
        const uint64_t bit = uint64_t{1} << slot;
        if ((hint.Ready.load() | hint.Pending.load()) & bit) continue;
        if (RenameNoReplace(path, SpareName(folder, slot))) {
            hint.Pending.fetch_or(bit);
            return true;
        }
        if (!FileExists(path)) return false;  // gone meanwhile: nothing to keep, nothing to delete
        hint.Pending.fetch_or(bit);           // another process's spare sits there
    }
    return false;
}

bool SparesWaitSync(const std::string& folder) {
    TSpareHint* hint = SpareHint(folder, false);
    return hint && std::popcount(hint->Pending.load()) >= kSyncEvery;
}

void SparesSynced(const std::string& folder) {
    if (TSpareHint* hint = SpareHint(folder, false)) hint->Ready.fetch_or(hint->Pending.exchange(0));
}

std::unique_ptr<THandleStream> TakeSpare(const std::string& folder, const std::string& temp, int64_t& size) {
    TSpareHint* hint = SpareHint(folder, false);
    if (!hint) return nullptr;
    for (uint64_t seen = hint->Ready.load(); seen != 0; seen = hint->Ready.load()) {
        const uint64_t bit = seen & (~seen + 1);  // the lowest slot believed ready
        if (!hint->Ready.compare_exchange_weak(seen, seen & ~bit)) continue;
        unsigned slot = 0;
        while ((uint64_t{1} << slot) != bit) ++slot;
        if (auto file = TakeSpareFile(SpareName(folder, slot), temp, size)) return file;
        if (FileExists(temp)) return nullptr;  // taken but unusable: left under temp for the sweep
    }
    return nullptr;
}

}  // namespace velmora
