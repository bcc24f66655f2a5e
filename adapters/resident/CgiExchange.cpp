// The exchange folder and names, the queue record layout, the queue file's locked reads and
// rewrites, the per-thread TServerData and the sweep of leftovers.
#include "CgiExchange.h"

#include <algorithm>
#include <cstring>

#include "EnvPaths.h"
#include "Files.h"
#include "System.h"

namespace velmora {

namespace {

constexpr double kStaleSeconds = 30;
constexpr int kQueueAttempts = 11;
constexpr unsigned kLockRetryMs = 1;
// A client's body copy of a slow visitor, and the wait for its answer, are over by then.
constexpr double kSweepSpareSeconds = 180;

}  // namespace

bool FitsQueueRecord(const std::string& name) { return name.size() < kQueueNameSize; }

std::string EncodeQueueRecord(const TQueueRecord& record) {
    std::string bytes(kQueueRecordSize, '\0');
    bytes[0] = static_cast<char>(record.Status);
    std::memcpy(bytes.data() + 4, &record.Queued, sizeof record.Queued);
    const size_t n = std::min(record.FileName.size(), kQueueNameSize - 1);
    std::memcpy(bytes.data() + 12, record.FileName.data(), n);
    return bytes;
}

TQueueRecord DecodeQueueRecord(const char* bytes) {
    TQueueRecord r;
    r.Status = static_cast<uint8_t>(bytes[0]);
    std::memcpy(&r.Queued, bytes + 4, sizeof r.Queued);
    r.FileName.assign(bytes + 12, strnlen(bytes + 12, kQueueNameSize));
    return r;
}

const TExchangeNames& ExchangeNames() {
    // Naming costs no mkdir: a CGI start that only looks for a running server must not touch the
    // folder. "Temp" absent is made by the first writer (PrepareExchangeFolder); only a "Temp"
    // that is something other than a folder can never be made, and then the program's folder
    // stands in.
    static const TExchangeNames names = [] {
        TExchangeNames n;
        const std::string program = ModuleFileName();
        const std::string dir = ExtractFilePath(program);
        n.Folder = FileExists(dir + "Temp") ? dir : dir + "Temp/";
        n.Base = n.Folder + ExtractFileName(program);
        n.QueueFile = n.Base + "_S";
        n.WindowTitle = ExtractFileName(program) + "_S";
        return n;
    }();
    return names;
}

bool PrepareExchangeFolder() {
    static const bool ready = [] {
        const std::string& folder = ExchangeNames().Folder;
        return CreatePrivateDir(folder.substr(0, folder.size() - 1));
    }();
    return ready;
}

std::string RequestFileNameFor(const std::string& key) { return ExchangeNames().Base + "_C_" + key + "_REQ"; }

std::string AnswerFileNameFor(const std::string& requestFileName) {
    return requestFileName.substr(0, requestFileName.size() - 3) + "OUT";
}

bool IsStandardRequestName(const std::string& name) {
    const size_t at = name.find("_REQ");
    return at != std::string::npos && at + 4 == name.size();
}

bool ExchangeWakeEnabled() {
    std::string value;
    return !GetEnvironmentVariable("CGI_SERVER_POLL_ONLY", value);
}

bool QueueFileExists() { return FileExists(ExchangeNames().QueueFile); }

bool QueueFileStale() {
    double age = 0;
    return FileLastWriteAge(ExchangeNames().QueueFile, age) && age > kStaleSeconds;
}

TServerData::~TServerData() {
    if (OwnsQueueFile) DeleteFile(ExchangeNames().QueueFile);
}

std::unique_ptr<TServerData>& ServerData() {
    thread_local std::unique_ptr<TServerData> data;
    return data;
}

TExclusiveOpen OpenQueue(TExclusiveFile& file, bool writable, unsigned pauseMs) {
    // The same bound as 11 attempts with a pause after each failed one, but the lock is tried
    // again every millisecond: a process woken by a change usually finds the writer just about
    // to close, and a whole pause would cost more than the rest of the request.
    const uint64_t deadline = TickCount() + static_cast<uint64_t>(kQueueAttempts) * pauseMs;
    for (;;) {
        const TExclusiveOpen r = file.Open(ExchangeNames().QueueFile, writable);
        if (r != TExclusiveOpen::Locked || TickCount() >= deadline) return r;
        Sleep(kLockRetryMs);
    }
}

std::vector<TQueueRecord> DecodeQueueRecords(const std::string& bytes) {
    std::vector<TQueueRecord> records;
    for (size_t pos = 0; pos + kQueueRecordSize <= bytes.size(); pos += kQueueRecordSize)
        records.push_back(DecodeQueueRecord(bytes.data() + pos));
    return records;
}

std::vector<TQueueRecord> ReadRecords(TExclusiveFile& file) {
    std::string bytes(static_cast<size_t>(file.Size()), '\0');
    bytes.resize(static_cast<size_t>(std::max(file.ReadAt(0, bytes.data(), static_cast<long>(bytes.size())), 0L)));
    return DecodeQueueRecords(bytes);
}

bool WriteRecords(TExclusiveFile& file, const std::vector<TQueueRecord>& records) {
    std::string bytes;
    bytes.reserve(records.size() * kQueueRecordSize);
    for (const TQueueRecord& r : records) bytes += EncodeQueueRecord(r);
    bool ok = file.WriteAt(0, bytes.data(), static_cast<long>(bytes.size()));
    ok = file.Truncate(static_cast<int64_t>(bytes.size())) && ok;
    file.Touch();
    return ok;
}

bool AppendRecord(TExclusiveFile& file, const TQueueRecord& record) {
    // A record torn by a writer that died mid-write would shift every later one; write over it.
    // The torn part is shorter than a record, so the file ends with the new one: no truncation,
    // which would wake every watcher a second time.
    const int64_t end = file.Size() / static_cast<int64_t>(kQueueRecordSize) * static_cast<int64_t>(kQueueRecordSize);
    const std::string bytes = EncodeQueueRecord(record);
    const bool ok = file.WriteAt(end, bytes.data(), static_cast<long>(bytes.size()));
    file.Touch();
    return ok;
}

void SweepExchangeFiles(const std::set<std::string>& keep) {
    const TExchangeNames& n = ExchangeNames();
    std::set<std::string> spared;
    for (const std::string& name : keep) {
        spared.insert(ExtractFileName(name));
        spared.insert(ExtractFileName(AnswerFileNameFor(name)));
    }
    // A file that cannot be deleted would be found again and again: stop at the first failure.
    for (const std::string& name : ListFiles(n.Base + "_C_*")) {
        double age = 0;
        if (spared.count(name) || (FileLastWriteAge(n.Folder + name, age) && age < kSweepSpareSeconds)) continue;
        if (!DeleteFile(n.Folder + name)) return;
    }
}

}  // namespace velmora
