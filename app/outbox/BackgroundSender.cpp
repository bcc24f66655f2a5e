// The sender thread: waits for a post's wake-up or its own timer, then delivers each outbox folder
// it knows under that folder's lock, keeping its connection to the relay between messages.
#include "BackgroundSender.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <map>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "HttpEng.h"
#include "Messages.h"

namespace velmora {

namespace {

using namespace std::chrono_literals;

// Kept mail whose retry time has come is looked at this often when no post wakes the thread.
constexpr std::chrono::milliseconds kPollInterval = 30s;
// A relay that could not be reached is asked again after 2 s, then less often while it stays
// away: every attempt writes a line to the log.
constexpr std::chrono::milliseconds kFirstRetry = 2s;
// Another deliverer (a CGI start, the flush command) holds a folder's lock: not for long.
constexpr std::chrono::milliseconds kBusyRetry = 200ms;
// A relay drops an idle client after a few minutes; ours goes well before it.
constexpr std::chrono::milliseconds kIdleClose = 10s;
// A message's time: the same as a post's own mail. No visitor waits; the end of the process ends
// the thread's waits at once (the message stays kept).
constexpr uint64_t kMessageBudgetMs = 20000;

// Handed names beyond this wait for a listing of the folder instead (a relay away for long).
constexpr size_t kMostNames = 10000;
// The thread's log lines (one per delivered message) go to the log this many at a time, and at
// the end of each run: one append instead of an open, write and close of the log per message.
constexpr size_t kLogBatch = 64;

class TLogBatch {
public:
    ~TLogBatch() { Flush(); }
    void Add(const std::string& line) {
        FLines.push_back(line);
        if (FLines.size() >= kLogBatch) Flush();
    }
    void Flush() {
        if (FLines.empty()) return;
        WriteLogLines(FLines);
        FLines.clear();
    }

private:
    std::vector<std::string> FLines;
};

// What the thread has to do for one folder: the mail posts have handed it since its last run, or
// a listing of the whole folder (at its first run, on the timer, after a failure).
struct TFolderWork {
    TFlushRun Run;
    std::vector<std::string> Names;
    bool ListingDue = true;
};

class TSender {
public:
    void Wake(const std::string& folder, const TFlushRun& run, const std::string& name) {
        std::lock_guard hold(FLock);
        if (FStopping) return;
        TFolderWork& work = FFolders[folder];
        work.Run = run;
        if (work.Names.size() >= kMostNames) work.ListingDue = true;
        else if (!name.empty()) work.Names.push_back(name);
        FPending = true;
        if (!FThread.joinable()) {
            FThread = std::thread([this] { Run(); });
            std::atexit(StopOutboxSender);
        }
        FWake.notify_one();
    }

    void Stop() {
        {
            std::lock_guard hold(FLock);
            FStopping = true;
            FWake.notify_one();
            // A wait for the relay blocks in the thread's message queue: a message ends it, and the
            // connection's Abort flag, the same FStopping, ends every wait after it.
            if (FQueue) FQueue->Post(0, WM_USER);
        }
        if (FThread.joinable() && FThread.get_id() != std::this_thread::get_id()) FThread.join();
    }

private:
    void Run() {
        TLogBatch log;  // before the connection, which may still log as it closes
        TSmtpSendMail kept(nullptr);
        kept.KeepConnection = true;
        kept.Abort = &FStopping;
        {
            std::lock_guard hold(FLock);
            FQueue = TMessageQueue::CurrentShared();
        }
        std::chrono::milliseconds wait = kPollInterval, retry = kFirstRetry;
        std::unique_lock hold(FLock);
        for (;;) {
            FWake.wait_for(hold, wait, [this] { return FPending || FStopping.load(); });
            if (FStopping) break;
            bool woken = FPending;
            FPending = false;
            auto folders = TakeWork(!woken);
            hold.unlock();
            // The timer came first: the connection has been idle since the last run.
            if (!woken) kept.CloseKept();
            wait = DeliverAll(folders, kept, retry, !woken, log);
            log.Flush();
            if (kept.HoldsKeptConnection()) wait = std::min(wait, kIdleClose);
            hold.lock();
        }
        hold.unlock();
        kept.CloseKept();
    }

    // The folders' work as it stands, leaving each empty; on the timer every folder is listed (kept
    // mail whose retry time has come, mail another process left).
    std::map<std::string, TFolderWork> TakeWork(bool listAll) {
        std::map<std::string, TFolderWork> taken;
        for (auto& [folder, work] : FFolders) {
            TFolderWork& t = taken[folder] = work;
            t.ListingDue = t.ListingDue || listAll;
            work.Names.clear();
            work.ListingDue = false;
        }
        return taken;
    }

    // A run that failed or found the folder busy leaves its messages where a listing finds them.
    void ListNextTime(const std::string& folder) {
        std::lock_guard hold(FLock);
        FFolders[folder].ListingDue = true;
    }

    std::chrono::milliseconds DeliverAll(const std::map<std::string, TFolderWork>& folders, TSmtpSendMail& kept,
                                         std::chrono::milliseconds& retry, bool timed, TLogBatch& log) {
        std::chrono::milliseconds wait = kPollInterval;
        bool failed = false;
        for (const auto& [folder, work] : folders) {
            if (!work.ListingDue && work.Names.empty()) continue;
            TFlushRun run = work.Run;
            run.Kept = &kept;
            run.MessageBudgetMs = kMessageBudgetMs;
            // No visitor waits here: the thread waits out a slow relay's final reply as the flush
            // command does, and so may try again mail whose data went out unanswered (at most
            // kMostUnanswered times) instead of leaving it to that command.
            run.FinalReplyWaitMs = kFinalReplyWaitMs;
            run.Stop = &FStopping;
            // One disk write of the folder per run, not per message: at the relay's pace a sync
            // per removal would set the thread's pace instead.
            run.SyncEachRemoval = false;
            run.KeepSpares = true;
            run.Log = [&log](const std::string& line) { log.Add(line); };
            bool done = false;
            try {
                TFlushResult result = work.ListingDue ? FlushOutbox(folder, run) : FlushNamed(folder, work.Names, run);
                if (result.Busy) wait = std::min(wait, kBusyRetry);
                failed = failed || result.Failed > 0;
                done = !result.Busy && result.Failed == 0;
            } catch (const std::exception& e) {
                log.Add("Outbox " + folder + " not delivered: " + e.what());
                failed = true;
            }
            if (!done) ListNextTime(folder);
        }
        if (!failed) {
            retry = kFirstRetry;
            return wait;
        }
        wait = std::min(wait, retry);
        // Only the timer's own tries lengthen the pause: a burst of posts must not push the next
        // look at a returning relay out to the longest one.
        if (timed) retry = std::min(retry * 2, kPollInterval);
        return wait;
    }

    std::mutex FLock;
    std::condition_variable FWake;
    bool FPending = false;
    std::atomic<bool> FStopping{false};
    std::map<std::string, TFolderWork> FFolders;  // folder -> its delivery as the latest post found it
    std::thread FThread;
    std::shared_ptr<TMessageQueue> FQueue;  // the thread's, for Stop to wake it in a wait for the relay
};

// Never destroyed: the thread may still run while the program's other statics go.
TSender& Sender() {
    static TSender* sender = new TSender;
    return *sender;
}

}  // namespace

void WakeOutboxSender(const std::string& folder, const TFlushRun& run, const std::string& name) {
    Sender().Wake(folder, run, name);
}

void StopOutboxSender() { Sender().Stop(); }

}  // namespace velmora
