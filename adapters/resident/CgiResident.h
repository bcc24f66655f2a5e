// The two roles of the resident exchange that both CGI engines share: the client that queues a
// request and waits for its answer, and the server's queue work and its poll timer, which a
// change of the queue file (seen through a folder watch) runs early instead of after its interval.
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "CgiExchange.h"
#include "FileWatch.h"
#include "Streams.h"
#include "Thread.h"
#include "Timer.h"

namespace velmora {

// Client side.

// False, logged once a process, when name does not fit a queue record: such a request is served
// by the process that got it, never handed over.
bool ExchangeTakes(const std::string& name);
// Up to 11 attempts, 50 ms apart, to queue a record of this name (a standard client has written
// its request file whole before, outside the lock, which other processes need meanwhile); the
// name becomes the thread's ServerData EntryName. False when no queue file exists, every attempt
// failed, or the record could not be written.
bool EnqueueRecord(const std::string& name);
// Where the thread's queued record stands (11 attempts, 100 ms after a failed one).
TQueueStatus QueryStatus();

struct TClientWait {
    std::function<void()> Relay;           // the record has left the queue: pass the answer on
    std::function<void()> ForgetRequest;   // the server is dead: delete what the client left
    bool LogAbort = true;                  // log "CGI server aborted" when the queue went away
};
// Passes until the answer is there, the server is found dead or gone, a close is asked for, or
// 180 s have passed; then the process ends. Between passes it waits up to 100 ms, and less when
// the queue file changes (a record leaving it wakes the client at once).
[[noreturn]] void WaitForAnswer(const TClientWait& how);

// Copies the answer file to out, adding a "Content-Length: " line to its header block when that
// block ends within the first 1024 bytes; then deletes the file. Nothing when it cannot be read.
void RelayAnswer(const std::string& answerFile, TStream& out);

// Creates the queue file empty when there is none (only its owner may use it).
void CreateEmptyQueueFile();
// Starts the program file again, detached, with these parameters.
bool LaunchResidentServer(const std::vector<std::string>& params);
// The answer (a CGI header block and a page) for a request that could not be handed to the
// resident server its client started.
std::string NotQueuedAnswer();

// Server side.

// Makes the queue file this process owns. Requests queued before it started (waiting records
// whose files exist) are kept; records a former server had taken are dropped. sweep: delete
// leftover request and answer files, sparing those of the kept records.
void CreateQueueFile(bool sweep);
// The first waiting record, marked taken when mine(its name) says it is this engine's kind. False
// when nothing waits (the heartbeat is then renewed) or the queue could not be opened.
bool FetchRequest(TQueueRecord& record, bool (*mine)(const std::string&));
enum class TRemoval { Removed, NoQueue, Locked };
// Removes every record of this name, under one lock for the read and the rewrite. A queue that
// stays locked through the attempts is logged and the removal is left to RetryRemovals: the
// record's client waits for it to go, and would wait in vain.
TRemoval RemoveFromQueue(const std::string& name);
// Tries the removals a locked queue put off (each poll of the server calls it); a standard
// request's file is deleted once its record is gone.
void RetryRemovals();

// Gives the application window the resident server's title (once, when both engines of a process
// started by hand serve).
void PublishServerTitle();
// Ends the resident server whose queue file has gone. Requests still running on their threads
// are not waited for: their clients have seen the queue go and ended already.
[[noreturn]] void EndResidentServer();

// The server's poll: OnPoll runs every intervalMs from the owning thread's message loop, and at
// once when a record is appended to the queue file (or it goes away). OnPoll is run as the timer's
// handler is: never while the timer is disabled, so a handler that disables the timer for the
// time of a request is never entered twice, even when the request pumps messages.
class TResidentPoll {
public:
    TResidentPoll(TComponent* owner, unsigned intervalMs, TNotifyEvent onPoll);
    ~TResidentPoll();
    TResidentPoll(const TResidentPoll&) = delete;
    TResidentPoll& operator=(const TResidentPoll&) = delete;

    TTimer* Timer() const noexcept { return FTimer; }
    // Stops polling for good (the timer is freed; a wake does nothing more).
    void Stop();

private:
    void Wake();

    TTimer* FTimer;
    std::shared_ptr<TMessageQueue> FQueue;
    HWND FWindow = 0;
    std::unique_ptr<TFileWatch> FWatch;
};

}  // namespace velmora

namespace velmora {

// One handed-over request served on a thread of its own (ServerThreadMode). Created running; it
// frees itself when its work is done, so no one may touch it after construction. The work runs
// with the thread as the request's CurrentRequestThread; its failures are swallowed.
class TCGIRequestThread : public TThread {
public:
    using TWork = std::function<void(TCGIRequestThread& thread)>;
    TCGIRequestThread(std::string requestName, TWork work);
    const std::string RequestName;

    // How many request threads are serving now.
    static int Running() noexcept;

protected:
    void Execute() override;

private:
    TWork FWork;
};

// Waits (up to a minute) until no request thread is serving any more: an engine freed under a
// running request would be used after its end.
void WaitForRequestThreads();

}  // namespace velmora
