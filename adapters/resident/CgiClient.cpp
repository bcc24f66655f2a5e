// The client's side of the resident exchange: queueing a record, asking where it stands, the
// waiting passes with their dead-server rules, and relaying the answer file to the web server.
#include <algorithm>
#include <atomic>
#include <cstring>

#include "CgiResident.h"
#include "EnvPaths.h"
#include "Files.h"
#include "HttpEng.h"
#include "System.h"
#include "WindowTitle.h"

namespace velmora {

namespace {

constexpr unsigned kEnqueuePauseMs = 50;
constexpr unsigned kQueryPauseMs = 100;
constexpr uint64_t kLongestWaitMs = 180000;
constexpr int kPassPauseMs = 100;
constexpr unsigned kExchangeChanged = WM_USER + 1;
constexpr size_t kRelayBlock = 1024;

// A close asked of this process (a signal, or a message of the application's own) ends the wait.
bool CloseAsked(TMessageQueue& queue) {
    if (Application().Terminated()) return true;
    TMsg msg;
    if (!queue.Peek(msg, 0, 0x3FF, false)) return false;
    return msg.Message == WM_CLOSE || msg.Message == WM_QUIT || msg.Message == WM_SYSCOMMAND;
}

enum class TPassResult { Again, Stop };

// One pass of the wait: the dead-server rules, then what the record's status asks for.
TPassResult WaitPass(const TClientWait& how, bool& windowSeen, int& seenStatus) {
    const bool stale = QueueFileStale();
    const bool windowFound = FindWindowByTitle(ExchangeNames().WindowTitle);
    bool dead = windowSeen && !windowFound;
    TQueueStatus status = qsWaiting;
    if (!dead) {
        status = QueryStatus();
        seenStatus = status;
        dead = status != qsDone && stale;
    }
    if (dead) {
        DeleteFile(ExchangeNames().QueueFile);  // also stops a server still alive, at its next tick
        if (how.ForgetRequest) how.ForgetRequest();
        return TPassResult::Stop;
    }
    if (windowFound) windowSeen = true;
    if (status == qsDone) {
        if (how.Relay) how.Relay();
        return TPassResult::Stop;
    }
    if (status == qsServerGone || status == qsQueueLocked) {
        if (how.LogAbort) WriteLog("CGI server aborted");
        return TPassResult::Stop;
    }
    return TPassResult::Again;
}

// The record's status as the queue file shows it, read without its lock; -1 when the record is not
// there. Every waiting client is woken by every change of the queue, most of them others' records:
// a look that finds its own record as the last pass left it spares the locked pass, whose lock
// the server needs to take the next request. A reading torn by a writer at most leads to a pass.
int PeekStatus(const std::string& entry) {
    std::unique_ptr<THandleStream> in = OpenFileForReading(ExchangeNames().QueueFile);
    if (!in) return -1;
    std::string bytes(static_cast<size_t>(std::max<int64_t>(in->Size(), 0)), '\0');
    bytes.resize(static_cast<size_t>(std::max(in->Read(bytes.data(), static_cast<long>(bytes.size())), 0L)));
    for (const TQueueRecord& record : DecodeQueueRecords(bytes))
        if (record.FileName == entry) return record.Status;
    return -1;
}

}  // namespace

bool ExchangeTakes(const std::string& name) {
    if (FitsQueueRecord(name)) return true;
    static std::atomic<bool> logged{false};
    if (!logged.exchange(true))
        WriteLog("Name longer than " + std::to_string(kQueueNameSize - 1) +
                 " characters, request served without the resident server: " + name);
    return false;
}

bool EnqueueRecord(const std::string& name) {
    TExclusiveFile queue;
    if (OpenQueue(queue, true, kEnqueuePauseMs) != TExclusiveOpen::Opened) return false;
    TQueueRecord record;
    record.Queued = Now();
    record.FileName = name;
    if (!ServerData()) ServerData() = std::make_unique<TServerData>();
    ServerData()->EntryName = record.FileName;
    return AppendRecord(queue, record);
}

TQueueStatus QueryStatus() {
    const std::string entry = ServerData() ? ServerData()->EntryName : std::string();
    TExclusiveFile queue;
    const TExclusiveOpen r = OpenQueue(queue, false, kQueryPauseMs);
    if (r == TExclusiveOpen::Missing) return qsServerGone;
    if (r == TExclusiveOpen::Opened) {
        for (const TQueueRecord& record : ReadRecords(queue))
            if (record.FileName == entry) return record.Status == qsTaken ? qsTaken : qsWaiting;
        return qsDone;
    }
    if (QueueFileStale()) DeleteFile(ExchangeNames().QueueFile);
    return qsQueueLocked;
}

void WaitForAnswer(const TClientWait& how) {
    try {
        InstallCloseSignals();
        TMessageQueue& queue = TMessageQueue::Current();
        // The notice only has to end the pause; the pass that follows looks at the queue anew.
        const HWND window = queue.AllocateHWnd([](TMsg&) {});
        std::unique_ptr<TFileWatch> watch;
        if (ExchangeWakeEnabled())
            watch = std::make_unique<TFileWatch>(ExchangeNames().QueueFile, window, kExchangeChanged);
        const std::string entry = ServerData() ? ServerData()->EntryName : std::string();
        bool windowSeen = false;
        int seenStatus = -1;
        const uint64_t start = TickCount();
        uint64_t passAt = start;
        bool first = true;
        while (TickCount() - start < kLongestWaitMs) {
            if (CloseAsked(queue)) break;
            // The passes keep their pace whatever wakes the client; a change notice adds a pass
            // only when the client's own record has changed.
            const uint64_t now = TickCount();
            if (first || now - passAt >= kPassPauseMs || PeekStatus(entry) != seenStatus) {
                first = false;
                passAt = now;
                if (WaitPass(how, windowSeen, seenStatus) == TPassResult::Stop) break;
            }
            Application().ProcessMessages();
            queue.WaitMessage(static_cast<int>(kPassPauseMs - std::min<uint64_t>(TickCount() - passAt, kPassPauseMs)));
        }
    } catch (...) {
        // Whatever failed, the client ends here; the web server gets what was relayed so far.
    }
    TerminateProgram();
    ExitProcess(0);
}

void RelayAnswer(const std::string& answerFile, TStream& out) {
    std::unique_ptr<THandleStream> in = OpenFileForReading(answerFile);
    if (!in) return;
    const int64_t size = in->Size();
    char block[kRelayBlock];
    long got = in->Read(block, static_cast<long>(kRelayBlock));
    const char* end = static_cast<const char*>(memmem(block, static_cast<size_t>(got), "\r\n\r\n", 4));
    if (end) {
        const long at = static_cast<long>(end - block);
        out.Write(block, at);
        out.WriteString("\r\nContent-Length: " + std::to_string(size - at - 4));
        out.Write(end, got - at);
    } else {
        out.Write(block, got);
    }
    while (got == static_cast<long>(kRelayBlock)) {
        got = in->Read(block, static_cast<long>(kRelayBlock));
        out.Write(block, got);
    }
    in.reset();
    DeleteFile(answerFile);
}

void CreateEmptyQueueFile() {
    PrepareExchangeFolder();
    TExclusiveFile queue;
    queue.Open(ExchangeNames().QueueFile, true, true);
}

std::string NotQueuedAnswer() {
    const std::string page =
        "<html><head><title>Service unavailable</title></head><body><h1>Service unavailable</h1>"
        "<p>The request could not be handed to the resident server. Please try again later.</p>"
        "</body></html>\r\n";
    return "Status: 503 Service Unavailable\r\nContent-Type: text/html\r\nContent-Length: " +
           std::to_string(page.size()) + "\r\n\r\n" + page;
}

bool LaunchResidentServer(const std::vector<std::string>& params) {
    return StartDetachedProcess(ModuleFileName(), params);
}

}  // namespace velmora
