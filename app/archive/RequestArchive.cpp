// The hooks: each thread keeps its own connection to the site's archive (a CGI start has one
// thread, a resident server's threads one each), and a failure never changes what the visitor gets.
#include "RequestArchive.h"

#include <atomic>
#include <chrono>

#include "ArchiveSettings.h"
#include "ArchiveStore.h"
#include "HttpEng.h"
#include "PostRecord.h"
#include "SqliteArchive.h"
#include "SqliteFile.h"
#include "SubmissionId.h"

namespace velmora {

namespace {

// A failing archive is logged once per burst: a down database would otherwise write a line for
// every post. The count of failures in between goes with the next line.
constexpr int64_t kQuietMs = 60 * 1000;
std::atomic<int64_t> gLastFailureLog{0};
std::atomic<int64_t> gQuietFailures{0};

void LogFailure(const TArchiveSettings& s, const std::string& what, const std::string& why) {
    int64_t now = UnixMillis(), last = gLastFailureLog.load();
    if (now - last < kQuietMs || !gLastFailureLog.compare_exchange_strong(last, now)) {
        ++gQuietFailures;
        return;
    }
    int64_t quiet = gQuietFailures.exchange(0);
    std::string where = s.Kind == TArchiveKind::Sqlite ? s.File : ArchiveAddressForLog(s.Address);
    WriteLog("Archive " + where + " not written (" + what + "): " + why +
             (quiet > 0 ? " (" + std::to_string(quiet) + " more failures since the last line)" : ""));
}

// The connection is kept for the settings it was opened with; an edit of VELMORA.CONF opens anew.
struct TThreadArchive {
    std::string Key;
    std::unique_ptr<TArchiveStore> Store;
};
thread_local TThreadArchive tArchive;

std::string KeyOf(const TArchiveSettings& s) {
    return std::to_string(static_cast<int>(s.Kind)) + "\n" + s.File + "\n" + s.Address + "\n" + s.Site + "\n" +
           std::to_string(s.Days) + (s.DropDelivered ? "d" : "k") + std::to_string(s.TimeoutMs);
}

TArchiveStore& Store(const TArchiveSettings& s) {
    std::string key = KeyOf(s);
    if (!tArchive.Store || tArchive.Key != key) {
        tArchive.Store.reset();
        tArchive.Store = s.Kind == TArchiveKind::Sqlite ? OpenSqliteArchive(s, [](const std::string& l) { WriteLog(l); })
                                                        : OpenArchive(s);
        tArchive.Key = key;
    }
    return *tArchive.Store;
}

// Runs work on the thread's connection. A damaged SQLite file is moved aside and work tried once
// on a new one; any other failure drops the connection, so the next post connects afresh.
// A kept PostgreSQL connection may have died since its last use (the server restarted): one failure
// on it is tried again once on a new connection.
void WithArchive(const TArchiveSettings& s, const std::string& what, const std::function<void(TArchiveStore&)>& work) {
    for (int attempt = 0; attempt < 2; ++attempt) {
        const bool kept = s.Kind == TArchiveKind::Postgresql && tArchive.Store && tArchive.Key == KeyOf(s);
        try {
            uint64_t file = s.Kind == TArchiveKind::Sqlite ? FileIdentity(s.File) : 0;
            try {
                work(Store(s));
                return;
            } catch (const TArchiveCorrupt& e) {
                tArchive.Store.reset();
                if (attempt == 1) throw;
                MoveAsideCorrupt(s.File, file, [](const std::string& l) { WriteLog(l); });
            }
        } catch (const std::exception& e) {
            tArchive.Store.reset();
            if (kept && attempt == 0) continue;
            LogFailure(s, what, e.what());
            return;
        }
    }
}

// The write, then the hourly purge: a post pays for a purge at most once an hour per site.
void Keep(const TArchiveSettings& s, const TSubmission& row) {
    WithArchive(s, "post " + row.Id, [&](TArchiveStore& a) {
        a.Write(row);
        a.Purge(false);
    });
}

thread_local std::string tKeptName;

}  // namespace

void NoteKeptForArchive(const std::string& outboxName) { tKeptName = outboxName; }

void ArchivePost(const TSiteConfig& site, const std::string& programDir, const TSmtpSendMail& mail, TPostOutcome outcome) {
    std::string kept = std::move(tKeptName);
    tKeptName.clear();
    TArchiveSettings s = ArchiveSettings(site, programDir);
    if (s.Kind == TArchiveKind::Off || (outcome == TPostOutcome::Honeypot && !s.Spam)) return;
    TSubmission row = PostRecord(s, &mail);
    if (outcome == TPostOutcome::Honeypot) {
        row.State = "spam";
        row.Reason = "honeypot field " + site.Text("honeypot_field") + " filled";
    } else if (outcome == TPostOutcome::Failed) {
        row.State = "failed";
        row.Reason = mail.GetErrorText();
    } else {
        row.State = kept.empty() ? "mailed" : "kept";
        row.OutboxId = kept.empty() ? "" : OutboxIdOf(kept);
    }
    Keep(s, row);
}

void ArchiveSpam(const TSiteConfig& site, const std::string& programDir, const std::string& reason) {
    TArchiveSettings s = ArchiveSettings(site, programDir);
    if (s.Kind == TArchiveKind::Off || !s.Spam) return;
    TSubmission row = PostRecord(s, nullptr);
    row.State = "spam";
    row.Reason = reason;
    Keep(s, row);
}

TDeliveryReport ArchiveDeliveryReport(const TSiteConfig& site, const std::string& programDir) {
    TArchiveSettings s = ArchiveSettings(site, programDir);
    if (s.Kind == TArchiveKind::Off) return nullptr;
    // libpq sets OpenSSL up on its first connection, and OpenSSL's clean-up at exit then runs before
    // every exit handler registered earlier: connected here, before a resident server's sender thread
    // registers its own, OpenSSL's state is still there when that thread ends. The post uses this
    // thread's connection next anyway.
    if (s.Kind == TArchiveKind::Postgresql) WithArchive(s, "connection", [](TArchiveStore&) {});
    return [s](const std::string& name, bool delivered, const std::string& why) {
        WithArchive(s, "state of " + name, [&](TArchiveStore& a) {
            a.Settle(OutboxIdOf(name), delivered ? "delivered" : "undeliverable", why);
        });
    };
}

}  // namespace velmora
