// The server's side of the resident exchange that both CGI engines share: making the queue file,
// taking the next record, removing a served one, and the poll timer with its early wake.
#include <atomic>
#include <cstdlib>
#include <mutex>
#include <set>

#include "CgiResident.h"
#include "Files.h"
#include "HttpEng.h"
#include "System.h"

namespace velmora {

namespace {

constexpr int kAttempts = 11;
constexpr unsigned kFetchPauseMs = 100;
constexpr unsigned kRemovePauseMs = 50;
constexpr unsigned kRetryPauseMs = 2;
constexpr unsigned kRecreatePauseMs = 200;
constexpr unsigned kExchangeChanged = WM_USER + 1;

// Opens (making it when missing) the queue file for a new server: 11 attempts, then, if another
// process holds it all that time, a fresh file in its place.
bool OpenNewQueue(TExclusiveFile& queue) {
    const std::string& name = ExchangeNames().QueueFile;
    PrepareExchangeFolder();
    const uint64_t deadline = TickCount() + kAttempts * kFetchPauseMs;
    do {
        if (queue.Open(name, true, true) == TExclusiveOpen::Opened) return true;
        Sleep(1);
    } while (TickCount() < deadline);
    DeleteFile(name);
    Sleep(kRecreatePauseMs);
    return queue.Open(name, true, true) == TExclusiveOpen::Opened;
}

}  // namespace

void CreateQueueFile(bool sweep) {
    TExclusiveFile queue;
    if (!OpenNewQueue(queue)) {
        WriteLog("Can not create file " + ExchangeNames().QueueFile);
        return;
    }
    // A client may have queued its request between the launch of this server and now (the one
    // that launched it does so by design): its record and request file must survive the reset.
    std::vector<TQueueRecord> kept;
    std::set<std::string> keptNames;
    for (TQueueRecord& record : ReadRecords(queue)) {
        if (record.Status != qsWaiting || !FileExists(record.FileName)) continue;
        kept.push_back(record);
        keptNames.insert(record.FileName);
    }
    WriteRecords(queue, kept);
    if (!ServerData()) ServerData() = std::make_unique<TServerData>();
    ServerData()->OwnsQueueFile = true;
    // Swept while the queue is locked: no client is between writing its request file and
    // appending its record.
    if (sweep) SweepExchangeFiles(keptNames);
}

bool FetchRequest(TQueueRecord& record, bool (*mine)(const std::string&)) {
    TExclusiveFile queue;
    if (OpenQueue(queue, true, kFetchPauseMs) != TExclusiveOpen::Opened) return false;
    const std::vector<TQueueRecord> records = ReadRecords(queue);
    for (size_t i = 0; i < records.size(); ++i) {
        if (records[i].Status != qsWaiting) continue;
        record = records[i];
        if (mine(record.FileName)) {
            record.Status = qsTaken;
            const std::string bytes = EncodeQueueRecord(record);
            queue.WriteAt(static_cast<int64_t>(i * kQueueRecordSize), bytes.data(), static_cast<long>(bytes.size()));
        }
        return true;
    }
    queue.Touch();  // the heartbeat: clients take a queue untouched for 30 s for a dead server's
    return false;
}

namespace {

// Removals a locked queue put off: shared by the request threads that finish and the main
// thread's poll that retries them.
std::mutex gPutOffLock;
std::set<std::string> gPutOff;

TRemoval TryRemove(const std::string& name, unsigned pauseMs) {
    TExclusiveFile queue;
    const TExclusiveOpen r = OpenQueue(queue, true, pauseMs);
    if (r == TExclusiveOpen::Missing) return TRemoval::NoQueue;
    if (r != TExclusiveOpen::Opened) return TRemoval::Locked;
    std::vector<TQueueRecord> records = ReadRecords(queue);
    std::erase_if(records, [&](const TQueueRecord& rec) { return rec.FileName == name; });
    return WriteRecords(queue, records) ? TRemoval::Removed : TRemoval::Locked;
}

}  // namespace

TRemoval RemoveFromQueue(const std::string& name) {
    const TRemoval r = TryRemove(name, kRemovePauseMs);
    if (r != TRemoval::Locked) return r;
    WriteLog("Queue record not removed (queue locked), tried again at the next poll: " + name);
    std::lock_guard<std::mutex> hold(gPutOffLock);
    gPutOff.insert(name);
    return r;
}

void RetryRemovals() {
    std::set<std::string> names;
    {
        std::lock_guard<std::mutex> hold(gPutOffLock);
        names.swap(gPutOff);
    }
    for (const std::string& name : names) {
        // One short try each: the poll must go on, and the next one tries again.
        const TRemoval r = TryRemove(name, kRetryPauseMs);
        if (r == TRemoval::Locked) {
            std::lock_guard<std::mutex> hold(gPutOffLock);
            gPutOff.insert(name);
        } else if (r == TRemoval::Removed && IsStandardRequestName(name)) {
            DeleteFile(name);
        }
    }
}

TResidentPoll::TResidentPoll(TComponent* /*owner*/, unsigned intervalMs, TNotifyEvent onPoll)
    : FTimer(new TTimer(nullptr)), FQueue(TMessageQueue::CurrentShared()) {
    FTimer->SetInterval(intervalMs);
    FTimer->SetOnTimer(std::move(onPoll));
    FTimer->SetEnabled(true);
    FWindow = FQueue->AllocateHWnd([this](TMsg&) { Wake(); });
    if (ExchangeWakeEnabled())
        FWatch = std::make_unique<TFileWatch>(ExchangeNames().QueueFile, FWindow, kExchangeChanged);
}

TResidentPoll::~TResidentPoll() {
    FWatch.reset();
    FQueue->DeallocateHWnd(FWindow);
    delete FTimer;
}

void TResidentPoll::Stop() {
    FWatch.reset();
    TTimer* timer = FTimer;
    FTimer = nullptr;
    delete timer;
}

void TResidentPoll::Wake() {
    if (!FTimer || !FTimer->Enabled()) return;
    // A copy runs: the handler may stop the poll and free the timer.
    TNotifyEvent handler = FTimer->OnTimer();
    if (handler) handler(FTimer);
}

}  // namespace velmora

namespace velmora {

namespace {
std::atomic<int> gRunningRequestThreads{0};
constexpr uint64_t kThreadsEndWaitMs = 60000;
}  // namespace

TCGIRequestThread::TCGIRequestThread(std::string requestName, TWork work)
    : RequestName(std::move(requestName)), FWork(std::move(work)) {
    SetFreeOnTerminate(true);
    ++gRunningRequestThreads;
    try {
        Start();
    } catch (...) {
        --gRunningRequestThreads;
        throw;
    }
}

int TCGIRequestThread::Running() noexcept { return gRunningRequestThreads; }

void TCGIRequestThread::Execute() {
    try {
        FWork(*this);
    } catch (...) {
        // A failed request must not take the server down; HandleRequest has reported its own.
    }
    --gRunningRequestThreads;
}

void WaitForRequestThreads() {
    const uint64_t start = TickCount();
    while (gRunningRequestThreads > 0 && TickCount() - start < kThreadsEndWaitMs) Sleep(10);
}

void PublishServerTitle() {
    if (Application().Title() != ExchangeNames().WindowTitle) Application().SetTitle(ExchangeNames().WindowTitle);
}

void EndResidentServer() {
    // Freeing the forms would free the engine under a request still running on its thread.
    if (gRunningRequestThreads > 0) std::quick_exit(0);
    TerminateProgram();
    ExitProcess(0);
}

}  // namespace velmora
