// Delivering the outbox: one run at a time under the folder's lock, oldest message first, each
// removed only once the relay has taken its data, failures given their next try or moved aside.
#include "ExclusiveFile.h"
#include "Files.h"
#include "LogText.h"
#include "MailSecurity.h"
#include "Outbox.h"
#include "OutboxFolderSync.h"
#include "SysUtils.h"
#include "System.h"

namespace velmora {

namespace {

// A temporary file this old was left by a process that died while queueing: its visitor was
// never told the message was taken, so it is no message of the outbox.
constexpr double kAbandonedSeconds = 3600;
// A message up to this size (a form's text, as good as every one) is read whole into memory and
// its file closed at once: the header's parse and the sending then seek in memory, not the file.
constexpr long kReadWhole = 64 * 1024;

enum class TOutcome { Delivered, Failed, Unreachable, MovedAside };

void Log(const TFlushRun& run, const std::string& line) {
    if (run.Log) run.Log(line);
}

bool MoveAside(const std::string& folder, const TOutboxEntry& e, const std::string& why, const TFlushRun& run) {
    std::string aside = UndeliverableFolder(folder);
    int64_t bytes = GetFileStamp(folder + "/" + e.Name).Size;
    if (!MoveIntoSubfolder(folder, e.Name, kUndeliverable)) {
        Log(run, "Queued mail " + e.Name + " is undeliverable (" + why + ") but cannot be moved to " + aside);
        return false;
    }
    CountRemovedMail(folder, bytes);
    Log(run, "Queued mail " + e.Name + " moved to " + aside + ": " + why);
    if (run.Report) run.Report(e.Name, false, why);
    return true;
}

void RemoveAbandoned(const std::string& folder, const TFlushRun& run) {
    for (const std::string& name : ListFiles(folder + "/*.tmp")) {
        double age = 0;
        if (FileLastWriteAge(folder + "/" + name, age) && age > kAbandonedSeconds && DeleteFile(folder + "/" + name))
            Log(run, "Outbox: unfinished file " + name + " of a process that ended while queueing removed");
    }
}

// The file's stream itself when the message is larger than kReadWhole.
std::unique_ptr<TStream> ReadWhole(std::unique_ptr<THandleStream> file) {
    std::string bytes(kReadWhole + 1, '\0');
    size_t got = 0;
    for (long n; got < bytes.size() && (n = file->Read(bytes.data() + got, static_cast<long>(bytes.size() - got))) > 0;)
        got += static_cast<size_t>(n);
    if (got > static_cast<size_t>(kReadWhole)) return file;
    auto memory = std::make_unique<TMemoryStream>();
    memory->Write(bytes.data(), static_cast<long>(got));
    return memory;
}

TOutcome DeliverOne(const std::string& folder, const TOutboxEntry& e, const TFlushRun& run) {
    std::string path = folder + "/" + e.Name;
    // Anyone who can write the folder can plant a FIFO or a link under a message's name: it is
    // never read (a FIFO would hold the run, and the outbox's lock, for good).
    bool notRegular = false;
    auto file = OpenFileForReading(path, &notRegular);
    TQueuedMail mail;
    std::string why;
    if (!file && notRegular)
        return MoveAside(folder, e, "not a regular file", run) ? TOutcome::MovedAside : TOutcome::Failed;
    if (!file) {
        Log(run, "Queued mail " + e.Name + " cannot be opened");
        return TOutcome::Failed;
    }
    std::unique_ptr<TStream> text = ReadWhole(std::move(file));
    if (!ReadQueuedMail(*text, mail, why))
        return MoveAside(folder, e, why, run) ? TOutcome::MovedAside : TOutcome::Failed;

    TSmtpSendMail own(nullptr);
    // A form's relay never shares the kept connection, which belongs to the configured one.
    TSmtpSendMail& sender = run.Kept && mail.Relay.Configured ? *run.Kept : own;
    sender.RemoteHost = mail.Relay.Configured ? run.ConfiguredHost : mail.Relay.Host;
    sender.RemotePort = mail.Relay.Configured ? run.ConfiguredPort : mail.Relay.Port;
    sender.Security = mail.Relay.Configured ? run.ConfiguredSecurity : run.FormRelaySecurity;
    sender.OnLog = run.Log;
    sender.FinalReplyWaitMs = run.FinalReplyWaitMs;
    sender.Abort = run.Stop;  // the end of a server ends the wait for the relay; the mail stays kept
    bool removed = false;
    // Removed before QUIT, the moment the relay has the message: a crash after this point cannot
    // send it twice, and one before it costs at most this one round trip.
    const int64_t bytes = text->Size();
    sender.OnAccepted = [&] {
        removed = (run.KeepSpares && KeepAsSpare(folder, path, bytes)) || DeleteFile(path);
        if (removed) CountRemovedMail(folder, bytes);
        const bool sync = run.SyncEachRemoval || (run.KeepSpares && SparesWaitSync(folder));
        if (removed && sync && SyncOutboxFolder(folder)) SparesSynced(folder);
    };
    std::string error;
    try {
        sender.SendComposed(mail.Envelope, *text, run.MessageBudgetMs);
        error = sender.GetErrorText();
    } catch (const std::exception& ex) {
        error = ex.what();  // a port text that is no port: the site's settings, mended later
    }
    if (sender.DataAccepted()) {
        if (run.Report) run.Report(e.Name, true, "");
        Log(run, "Queued mail " + e.Name + " delivered" +
                     (removed ? "" : ", but it cannot be removed from the outbox and will be sent again"));
        return TOutcome::Delivered;
    }
    std::string relay = sender.RemoteHost + ":" + sender.RemotePort;
    if (sender.PermanentFailure())
        return MoveAside(folder, e, "refused by " + relay + ": " + ForLog(Trim(error)), run) ? TOutcome::MovedAside
                                                                                               : TOutcome::Failed;
    if (sender.NoConnection()) {
        // Asking a relay that refuses the connection again costs nothing: the message keeps its
        // retry time, so that the first request after the relay is back sends everything.
        Log(run, "Queued mail " + e.Name + " not delivered: no connection to " + relay + " (" + ForLog(Trim(error)) + ")");
        return TOutcome::Unreachable;
    }
    int attempts = e.Attempts + 1, unanswered = e.Unanswered + (sender.DataUnanswered() ? 1 : 0);
    if (unanswered >= kMostUnanswered)
        return MoveAside(folder, e, "its data went out " + IntToStr(unanswered) +
                                         " times without an answer; the relay may have delivered it", run)
                   ? TOutcome::MovedAside
                   : TOutcome::Failed;
    int64_t next = UnixNow() + RetryDelay(attempts);
    std::string renamed = OutboxName(e.Id, attempts, next, unanswered);
    if (!RenameFile(path, folder + "/" + renamed)) renamed = e.Name;
    Log(run, "Queued mail " + e.Name + " not delivered to " + relay + " (" + ForLog(Trim(error)) + "); try " +
                 IntToStr(attempts + 1) + " in " + IntToStr(RetryDelay(attempts) / 60) + " min as " + renamed);
    return sender.ReplyCode() < 0 ? TOutcome::Unreachable : TOutcome::Failed;
}

}  // namespace

TOutboxSettings OutboxSettings(const TSiteConfig& site, const std::string& programDir) {
    TOutboxSettings s;
    s.Enabled = site.Flag("outbox");
    s.Folder = site.Text("outbox_folder");
    if (!IsAbsolutePath(s.Folder)) s.Folder = programDir + s.Folder;
    while (s.Folder.size() > 1 && s.Folder.back() == PathDelim) s.Folder.pop_back();
    s.GiveUpDays = site.Number("outbox_give_up_days");
    s.MaxMails = site.Number("outbox_max_mails");
    s.MaxMegabytes = site.Number("outbox_max_megabytes");
    s.RequestMs = site.Number("outbox_request_ms");
    return s;
}

bool BackgroundDelivery(const TSiteConfig& site) { return site.Text("delivery") == "background"; }

TFlushRun OutboxFlushRun(const TSiteConfig& site, const TMailSettings& stored, const std::string& programDir) {
    TFlushRun run;
    run.ConfiguredHost = stored.Get(TMailField::mailhost);
    run.ConfiguredPort = stored.Get(TMailField::mailport);
    run.ConfiguredSecurity = MailSecurity(site, true, programDir);
    run.FormRelaySecurity = MailSecurity(site, false, programDir);
    run.GiveUpDays = site.Number("outbox_give_up_days");
    run.Report = ArchiveDeliveryReport(site, programDir);
    return run;
}

namespace {

// Delivers entries, oldest first, with the folder's lock held.
TFlushResult FlushEntries(const std::string& folder, const std::vector<TOutboxEntry>& entries, const TFlushRun& run) {
    TFlushResult result;
    uint64_t start = TickCount();
    size_t begun = 0;
    bool stopped = false;
    for (const TOutboxEntry& e : entries) {
        int64_t now = UnixNow();
        if (now - e.Queued > static_cast<int64_t>(run.GiveUpDays) * 86400) {
            bool moved = MoveAside(folder, e, "not delivered within " + IntToStr(run.GiveUpDays) + " days", run);
            ++(moved ? result.MovedAside : result.Failed);
            continue;
        }
        bool due = run.IgnoreRetryTimes || e.NextTry <= now;
        // A relay that left this message's data unanswered may be one that answers late: only a
        // run that waits as long as the relay may take tries it again.
        bool waitable = e.Unanswered == 0 || run.FinalReplyWaitMs >= kFinalReplyWaitMs;
        if (run.Stop && *run.Stop) stopped = true;
        if (!due || !waitable || stopped || begun >= run.MaxMessages || TickCount() - start >= run.StartWithinMs) {
            ++result.Waiting;
            continue;
        }
        ++begun;
        switch (DeliverOne(folder, e, run)) {
            case TOutcome::Delivered: ++result.Delivered; break;
            case TOutcome::MovedAside: ++result.MovedAside; break;
            case TOutcome::Failed: ++result.Failed; break;
            case TOutcome::Unreachable:
                ++result.Failed;
                // The relay is down or silent: the other messages would only wait for it too.
                stopped = true;
                break;
        }
    }
    // The sync is the one the posts share: a post waiting for one at the same time is answered by it.
    if (!run.SyncEachRemoval && result.Delivered > 0 && SyncOutboxFolder(folder)) SparesSynced(folder);
    return result;
}

bool LockOutbox(const std::string& folder, TExclusiveFile& lock) {
    return lock.Open(folder + "/.lock", true, true) == TExclusiveOpen::Opened;
}

}  // namespace

TFlushResult FlushOutbox(const std::string& folder, const TFlushRun& run) {
    TFlushResult result;
    if (!DirectoryExists(folder)) return result;
    TExclusiveFile lock;
    if (!LockOutbox(folder, lock)) {
        result.Busy = true;
        return result;
    }
    RemoveAbandoned(folder, run);
    return FlushEntries(folder, ListOutbox(folder), run);
}

TFlushResult FlushNamed(const std::string& folder, const std::vector<std::string>& names, const TFlushRun& run) {
    TFlushResult result;
    TExclusiveFile lock;
    if (!LockOutbox(folder, lock)) {
        result.Busy = true;
        return result;
    }
    std::vector<TOutboxEntry> entries;
    for (const std::string& name : names) {
        TOutboxEntry e;
        // Gone: another deliverer (the flush command, a CGI start) has sent it already.
        if (ParseOutboxName(name, e) && FileExists(folder + "/" + name)) entries.push_back(e);
    }
    return FlushEntries(folder, entries, run);
}

}  // namespace velmora
