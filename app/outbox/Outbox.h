// The outbox: mail the relay could not take for the moment, one file per message in a folder only
// the program's user may read, tried again by later requests and by `velmora-ini outbox flush`.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "HSmtp.h"
#include "MailSettings.h"
#include "RequestArchive.h"
#include "SiteConfig.h"
#include "Streams.h"

namespace velmora {

// The site's outbox keys. Folder is absolute (a relative one lies beside the program).
struct TOutboxSettings {
    bool Enabled = false;
    std::string Folder;
    long GiveUpDays = 5;
    long MaxMails = 1000;
    long MaxMegabytes = 100;
    long RequestMs = 400;  // a post's time for delivering kept mail; 0: none
};
TOutboxSettings OutboxSettings(const TSiteConfig& site, const std::string& programDir);

// Where a kept message goes: the relay the site configured (as the settings file names it at the
// time of the try, with its login), or the one a form chose (never given the login).
struct TQueuedRelay {
    bool Configured = true;
    std::string Host, Port;
};

// One message file, as its name tells: the name is "<queued>-<random>.<attempts>.<next try>.mail",
// times in seconds since 1970, so that a retry changes the name and never the contents. A message
// whose data went out without an answer carries that count too: "<attempts>-<unanswered>".
struct TOutboxEntry {
    std::string Name;
    std::string Id;  // the part before the first "."
    int64_t Queued = 0;
    int Attempts = 0;  // failed tries after the one that queued it
    int64_t NextTry = 0;
    int Unanswered = 0;  // tries whose data the relay got without answering: copies it may hold
};
bool ParseOutboxName(const std::string& name, TOutboxEntry& entry);
std::string OutboxName(const std::string& id, int attempts, int64_t nextTry, int unanswered = 0);

// RFC 5321's wait for the reply to the end of the data. Only a run that can wait this long tries
// a message again whose data already went out unanswered; one whose data went out unanswered
// this many times is moved aside: the relay may hold as many copies.
constexpr uint64_t kFinalReplyWaitMs = 10 * 60 * 1000;
constexpr int kMostUnanswered = 3;
// The messages in folder, oldest first.
std::vector<TOutboxEntry> ListOutbox(const std::string& folder);
// Why no further message may be kept ("" when it may): the folder holds the most messages or
// bytes the site allows, as a listing at most a second old (a tenth of one when the count is at
// the limit) and this process's own mail kept and removed since count them.
std::string OutboxFull(const TOutboxSettings& outbox);
// A message this process has just kept in folder (name: its file's), counted until the next
// listing, which takes its size from here instead of looking at the file.
void CountKeptMail(const std::string& folder, const std::string& name, int64_t bytes);
// A message delivered or moved aside by this process.
void CountRemovedMail(const std::string& folder, int64_t bytes);
// Where messages that cannot be delivered are moved (never deleted): a subfolder of this name,
// which a symbolic link never stands in for.
inline constexpr const char* kUndeliverable = "undeliverable";
std::string UndeliverableFolder(const std::string& folder);

int64_t UnixNow();
// Seconds to wait after the given number of failed tries: 1, 5, 15, 60 minutes, then hourly.
int64_t RetryDelay(int attempts);

// Writes the message sender would send (envelope and exact DATA text) as one new file in folder:
// a unique temporary name, flushed to disk, then renamed. Returns the file's name; throws
// Exception when the message could not be stored (the folder cannot be made or written, the disk
// is full), and then nothing of it is left behind.
std::string QueueMail(const std::string& folder, TSmtpSendMail& sender, const TQueuedRelay& relay);

// A kept message read back: its relay, envelope, and where its DATA text starts in the file.
struct TQueuedMail {
    TQueuedRelay Relay;
    TMailEnvelope Envelope;
    int64_t DataOffset = 0;
};
// False, with why, when the file is not a whole message of this outbox.
bool ReadQueuedMail(TStream& file, TQueuedMail& mail, std::string& why);

// One delivery run: what it may spend, and where it sends.
struct TFlushRun {
    std::string ConfiguredHost, ConfiguredPort;
    TSmtpSecurity ConfiguredSecurity;  // with the site's login
    TSmtpSecurity FormRelaySecurity;   // the same rules, no login
    long GiveUpDays = 5;
    size_t MaxMessages = SIZE_MAX;
    uint64_t StartWithinMs = UINT64_MAX;  // no message is begun after this much time
    uint64_t MessageBudgetMs = 20000;
    uint64_t FinalReplyWaitMs = kFinalReplyWaitMs;  // 0: the message's budget decides
    bool IgnoreRetryTimes = false;
    TConfLog Log;
    // The sender thread's own connection (KeepConnection on), for messages to the configured
    // relay; null: each message opens its own.
    TSmtpSendMail* Kept = nullptr;
    // False: the folder is written to disk once after the run instead of after each removal (a
    // machine crash in between may bring back a delivered message, as it may anyway in that window).
    bool SyncEachRemoval = true;
    // True: a delivered message's file becomes a spare for the next kept mail (a resident
    // sender's runs) instead of being deleted.
    bool KeepSpares = false;
    // Set: no further message is begun (the process is ending).
    const std::atomic<bool>* Stop = nullptr;
    // Told of each message delivered or moved aside, so the site's archive follows its state.
    TDeliveryReport Report;
};
// The run's settings from the site's files; the limits are those of the flush command.
TFlushRun OutboxFlushRun(const TSiteConfig& site, const TMailSettings& stored, const std::string& programDir);

struct TFlushResult {
    bool Busy = false;  // another process or thread is delivering: nothing done
    int Delivered = 0, Failed = 0, MovedAside = 0, Waiting = 0;
};
// Delivers the due messages of folder, oldest first, under the outbox's lock (taken without
// waiting, so one deliverer runs at a time and each message is taken by one process). A message
// is removed the moment the relay accepted its data; a temporary failure sets its next try; a
// permanent one, or a message older than GiveUpDays, moves it to the undeliverable folder. No
// connection to a relay ends the run: the others wait for the next one.
TFlushResult FlushOutbox(const std::string& folder, const TFlushRun& run);
// The same for the named messages only, in the order given (names this process has just kept):
// no listing of the folder, no clean-up of unfinished files. A name no longer there is skipped.
TFlushResult FlushNamed(const std::string& folder, const std::vector<std::string>& names, const TFlushRun& run);

// Spare message files, kept by a resident process's sender so that the next kept mail reuses an
// inode: a delivered message's file renamed to "spare-<n>.spare" (never a message name, never
// delivered; false when every spare name is taken, the file is gone or larger than 64 KB), and one taken back under
// the new message's temporary name (null when this process knows of none synced to disk: a CGI
// start never does). The old bytes are still in a taken file; size tells how many.
inline constexpr const char* kSpareSuffix = ".spare";
bool KeepAsSpare(const std::string& folder, const std::string& path, int64_t bytes);
// Enough spares wait for the folder's next sync that the sender should sync it now; once it was
// written to disk, SparesSynced makes the spares kept before it safe to write into.
bool SparesWaitSync(const std::string& folder);
void SparesSynced(const std::string& folder);
std::unique_ptr<THandleStream> TakeSpare(const std::string& folder, const std::string& temp, int64_t& size);

// VELMORA.CONF's delivery = background: a post's mail goes to the outbox and the visitor is
// answered at once; the outbox's folder and limits hold whether or not `outbox` is switched on.
bool BackgroundDelivery(const TSiteConfig& site);

}  // namespace velmora
