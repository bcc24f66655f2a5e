// The record is read whole under the file's lock, so claims of every process and thread come one
// after another; a new claim is appended in place, and the file is rewritten only when expired
// entries are dropped or it is full.
#include "ReplayStore.h"

#include <algorithm>
#include <charconv>
#include <ctime>
#include <exception>
#include <vector>

#include "Files.h"
#include "LockedFile.h"
#include "SharedStore.h"
#include "StateFolder.h"
#include "internal/StoreConnection.h"
#include "SysUtils.h"
#include "EnvPaths.h"

namespace velmora {

namespace {

struct TEntry {
    std::string Key;
    int64_t Expires = 0;
};

// Signatures are hex; anything else a caller passes is cut down to hex so it cannot break a line.
std::string CleanKey(const std::string& key) {
    std::string out;
    for (char c : key.substr(0, 128))
        if ((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f')) out += c;
    return out;
}

std::vector<TEntry> ReadEntries(std::string_view text, bool& pruned, int64_t now) {
    std::vector<TEntry> entries;
    for (size_t pos = 0; pos < text.size();) {
        size_t end = text.find('\n', pos);
        if (end == std::string_view::npos) end = text.size();
        std::string_view line = text.substr(pos, end - pos);
        pos = end + 1;
        size_t blank = line.find(' ');
        TEntry e;
        std::string_view when = blank == std::string_view::npos ? std::string_view() : line.substr(blank + 1);
        auto [stop, ec] = std::from_chars(when.data(), when.data() + when.size(), e.Expires);
        // A damaged or expired line is dropped; padding of an earlier rewrite is blank.
        if (blank == 0 || blank == std::string_view::npos || ec != std::errc() || stop != when.data() + when.size() ||
            e.Expires < now) {
            pruned = pruned || !line.empty();
            continue;
        }
        e.Key = std::string(line.substr(0, blank));
        entries.push_back(std::move(e));
    }
    return entries;
}

std::string Line(const TEntry& e) { return e.Key + " " + std::to_string(e.Expires) + "\n"; }

}  // namespace

EClaim ClaimOnceInFile(const std::string& path, const std::string& key, int64_t expiresUnix, int64_t now) {
    std::string clean = CleanKey(key);
    if (clean.empty()) return EClaim::Unavailable;
    try {
        if (!AppendToFile(path, "", 0640)) return EClaim::Unavailable;
        TLockedFile file(path);
        if (!file.Exists()) return EClaim::Unavailable;
        std::string old = file.ReadAll();
        bool pruned = false;
        std::vector<TEntry> entries = ReadEntries(old, pruned, now);
        for (const TEntry& e : entries)
            if (e.Key == clean) return EClaim::AlreadyUsed;
        TEntry mine{clean, expiresUnix};
        if (!pruned && entries.size() < kMaxReplayEntries && file.Writable()) {
            file.OverwriteAt(static_cast<long>(old.size()), Line(mine));
            return EClaim::Claimed;
        }
        // Full: the entry nearest its expiry goes, as it would soon anyway; a robot must solve
        // this many challenges within their lifetime to reopen even one of them.
        if (entries.size() >= kMaxReplayEntries)
            entries.erase(std::min_element(entries.begin(), entries.end(),
                                           [](const TEntry& a, const TEntry& b) { return a.Expires < b.Expires; }));
        entries.push_back(mine);
        std::string text;
        for (const TEntry& e : entries) text += Line(e);
        file.Replace(text);
        return EClaim::Claimed;
    } catch (const std::exception&) {
        return EClaim::Unavailable;
    }
}

EClaim ClaimOnce(const std::string& key, time_t expiresUnix) {
    if (RequestStoreIsRedis()) return RedisClaimOnce(key, expiresUnix);
    return ClaimOnceInFile(StateFolder(ExtractFilePath(ModuleFileName())) + "VELMORA.USED", key, expiresUnix,
                           static_cast<int64_t>(std::time(nullptr)));
}

void ReleaseClaimInFile(const std::string& path, const std::string& key) {
    std::string clean = CleanKey(key);
    if (clean.empty()) return;
    try {
        TLockedFile file(path);
        if (!file.Exists() || !file.Writable()) return;
        bool pruned = false;
        std::string text;
        for (const TEntry& e : ReadEntries(file.ReadAll(), pruned, static_cast<int64_t>(std::time(nullptr))))
            if (e.Key != clean) text += Line(e);
        file.Replace(text);
    } catch (const std::exception&) {
        // The claim stays: the visitor is refused as a replay, never let in twice.
    }
}

void ReleaseClaim(const std::string& key) {
    const TStoreSettings& store = RequestStore();
    if (!store.Redis) return ReleaseClaimInFile(ExtractFilePath(ModuleFileName()) + "VELMORA.USED", key);
    try {
        StoreCommand(store, {"DEL", store.Prefix + "used:" + key});
    } catch (const EStoreUnavailable&) {
        // Logged by the connection; the claim ends with its challenge's expiry.
    }
}

}  // namespace velmora
