// LoadSiteConfig: VELMORA.CONF read once and kept until the file changes, so that a resident
// process sees an edit at its next request while an unchanged file costs one stat per request.
#include <map>
#include <mutex>
#include <stdexcept>

#include "SiteConfig.h"
#include "Streams.h"

namespace velmora {

namespace {

// Far beyond any hand-written settings; a bigger file is read only this far.
constexpr long MaxConfigBytes = 64 * 1024;

std::string ReadHead(const std::string& path) {
    TFileStream file(path, fmOpenRead | fmShareDenyNone);
    std::string bytes(MaxConfigBytes, '\0');
    long got = 0, n = 0;
    while (got < MaxConfigBytes && (n = file.Read(bytes.data() + got, MaxConfigBytes - got)) > 0) got += n;
    bytes.resize(static_cast<size_t>(got));
    return bytes;
}

}  // namespace

TSiteConfig TSiteConfig::ReadFile(const std::string& path, const TFileStamp& stamp, const TConfLog& log) {
    return ReadFileReporting(path, stamp, ProblemLog(log));
}

TSiteConfig TSiteConfig::ReadFileReporting(const std::string& path, const TFileStamp& stamp, const TConfProblemLog& log) {
    TSiteConfig config;
    if (!stamp.Exists) return config;
    try {
        if (!stamp.Regular) throw std::runtime_error("not a regular file");
        std::string text = ReadHead(path);
        if (stamp.Size > MaxConfigBytes && log) log(TConfProblem::TooLong, path + ": only the first 64 KB read");
        config = ParseReporting(text, log);
    } catch (const std::exception& e) {
        if (log) log(TConfProblem::Unreadable, path + " cannot be read, the defaults apply: " + e.what());
        config = TSiteConfig();
        config.FUnreadable = true;
    }
    config.FStamp = stamp;
    return config;
}

std::shared_ptr<const TSiteConfig> LoadSiteConfig(const std::string& path, const TConfLog& log) {
    static std::mutex lock;
    static std::map<std::string, std::shared_ptr<const TSiteConfig>> cache;
    TFileStamp stamp = GetFileStamp(path);
    {
        std::lock_guard<std::mutex> hold(lock);
        auto it = cache.find(path);
        if (it != cache.end() && it->second->Stamp() == stamp) return it->second;
    }
    // Read outside the lock: two threads may both read a changed file, and either result is right.
    auto config = std::make_shared<const TSiteConfig>(TSiteConfig::ReadFile(path, stamp, log));
    std::lock_guard<std::mutex> hold(lock);
    cache[path] = config;
    return config;
}

}  // namespace velmora
