// The outbox within a request: before its own mail a request delivers a few kept messages (at
// most a fraction of a second's work), and a mail the relay cannot take now is kept for later.
#include "HttpEng.h"
#include "LogText.h"
#include "BackgroundSender.h"
#include "SysUtils.h"
#include "haupt.h"

namespace velmora {

namespace {

// A request delivers at most this much of the outbox before its own mail (and begins none after
// the site's outbox_request_ms); the flush command has no such limits.
constexpr size_t kRequestMessages = 25;
constexpr uint64_t kRequestMessageBudgetMs = 3000;

void DeliverKeptMail(const TOutboxSettings& outbox, TFlushRun run) {
    if (outbox.RequestMs == 0) return;
    run.MaxMessages = kRequestMessages;
    run.StartWithinMs = static_cast<uint64_t>(outbox.RequestMs);
    run.MessageBudgetMs = kRequestMessageBudgetMs;
    run.FinalReplyWaitMs = 0;  // a post cannot wait out a slow relay's final reply
    run.Log = [](const std::string& line) { WriteLog(line); };
    try {
        FlushOutbox(outbox.Folder, run);
    } catch (const std::exception& e) {
        // The request's own mail does not depend on the outbox's state.
        WriteLog("Outbox " + outbox.Folder + " not delivered: " + e.what());
    }
}

// why: the reason the mail is kept ("" for a background post, which is kept by design); name: the
// kept message's file name.
bool KeepMail(TSmtpSendMail& sender, const TOutboxSettings& outbox, bool configuredRelay, const std::string& why,
              std::string* kept = nullptr) {
    TQueuedRelay relay;
    relay.Configured = configuredRelay;
    relay.Host = sender.RemoteHost;
    relay.Port = sender.RemotePort;
    try {
        std::string full = OutboxFull(outbox);
        if (!full.empty()) throw Exception(full);
        std::string name = QueueMail(outbox.Folder, sender, relay);
        NoteKeptForArchive(name);
        if (kept) *kept = name;
        if (!why.empty()) WriteLog("Mail not delivered now (" + ForLog(why) + "): kept in the outbox as " + name);
        return true;
    } catch (const std::exception& e) {
        WriteLog("Mail not delivered (" + ForLog(why.empty() ? "background delivery" : why) +
                 ") and not kept in the outbox: " + e.what());
        return false;
    }
}

}  // namespace

bool THauptmenue::SendOrKeep(TSmtpSendMail& sender, const TMailRequest& r, bool configuredRelay) {
    TOutboxSettings outbox = OutboxSettings(*r.Site, FSideFiles.ProgramDir);
    if (BackgroundDelivery(*r.Site)) return KeepForSender(sender, r, outbox, configuredRelay);
    if (!outbox.Enabled) return sender.Send(20);
    DeliverKeptMail(outbox, OutboxFlushRun(*r.Site, r.Stored, FSideFiles.ProgramDir));
    if (sender.Send(20)) return true;
    // A relay that took the data but fumbled QUIT has the message: keeping it for another try
    // would send it twice.
    if (sender.DataAccepted()) return true;
    return !sender.PermanentFailure() && KeepMail(sender, outbox, configuredRelay, Trim(sender.GetErrorText()));
}

bool THauptmenue::KeepForSender(TSmtpSendMail& sender, const TMailRequest& r, const TOutboxSettings& outbox,
                                bool configuredRelay) {
    // On disk before the visitor is thanked: the answer promises what a crash cannot take back.
    std::string name;
    if (!KeepMail(sender, outbox, configuredRelay, "", &name)) return false;
    TFlushRun run = OutboxFlushRun(*r.Site, r.Stored, FSideFiles.ProgramDir);
    if (HTTP->ServesManyRequests()) WakeOutboxSender(outbox.Folder, run, name);
    else DeliverKeptMail(outbox, run);
    return true;
}

}  // namespace velmora
