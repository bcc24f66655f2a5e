// The SQLite archive's statements: the schema, a post's rows in one transaction, the outbox's
// state changes, the purge with its incremental vacuum, and the reads of the export.
#include "SqliteArchive.h"

#include <unordered_map>
#include <unordered_set>

#include "SqliteFile.h"
#include "SqliteStatement.h"
#include "SubmissionId.h"

namespace velmora {

namespace {

constexpr int kSchemaVersion = 1;
constexpr int64_t kPurgeEveryMs = 3600 * 1000;
constexpr int64_t kDayMs = 86400 * 1000;

// auto_vacuum must be chosen before the first table exists; WAL and synchronous per connection.
constexpr const char* kSchema =
    "PRAGMA auto_vacuum = INCREMENTAL;"
    "CREATE TABLE IF NOT EXISTS submissions(id TEXT PRIMARY KEY, received INTEGER NOT NULL, site TEXT NOT NULL,"
    " client TEXT, user_agent TEXT, referer TEXT, recipients TEXT, subject TEXT, message_id TEXT, charset TEXT,"
    " state TEXT NOT NULL, state_at INTEGER NOT NULL, reason TEXT, outbox_id TEXT);"
    "CREATE INDEX IF NOT EXISTS submissions_site ON submissions(site, id);"
    "CREATE INDEX IF NOT EXISTS submissions_spam ON submissions(site, id) WHERE state = 'spam';"
    "CREATE INDEX IF NOT EXISTS submissions_outbox ON submissions(outbox_id) WHERE outbox_id IS NOT NULL;"
    "CREATE TABLE IF NOT EXISTS fields(submission TEXT NOT NULL, position INTEGER NOT NULL, name TEXT, value TEXT,"
    " PRIMARY KEY(submission, position)) WITHOUT ROWID;"
    "CREATE TABLE IF NOT EXISTS uploads(submission TEXT NOT NULL, position INTEGER NOT NULL, name TEXT, type TEXT,"
    " size INTEGER, bytes BLOB, PRIMARY KEY(submission, position));"
    "CREATE TABLE IF NOT EXISTS settled(outbox_id TEXT PRIMARY KEY, state TEXT, at INTEGER, reason TEXT);"
    "CREATE TABLE IF NOT EXISTS meta(key TEXT PRIMARY KEY, value TEXT);"
    "INSERT OR IGNORE INTO meta VALUES('schema_version', '1');";

// The rows of the submissions a WHERE over s selects, children first.
constexpr const char* kDeleteFields = "DELETE FROM fields WHERE submission IN (SELECT id FROM submissions s WHERE ";
constexpr const char* kDeleteUploads = "DELETE FROM uploads WHERE submission IN (SELECT id FROM submissions s WHERE ";
constexpr const char* kDeleteRows = "DELETE FROM submissions WHERE id IN (SELECT id FROM submissions s WHERE ";

class TSqliteArchive : public TArchiveStore {
public:
    TSqliteArchive(const TArchiveSettings& settings, TSqliteFile file) : FSet(settings), FFile(std::move(file)) {}
    ~TSqliteArchive() override {
        for (auto& [sql, stmt] : FKept) FFile.Api().Finalize(stmt);
    }

    int Init() override {
        Exec(kSchema);
        return kSchemaVersion;
    }

    void Probe() override {
        EnsureSchema();
        TTransaction t(*this);
        Statement("INSERT OR REPLACE INTO meta VALUES('probe', '1')").Run();
    }

    void Write(const TSubmission& s) override {
        if (FSyncLost) throw TArchiveError("the connection lost its full sync");
        EnsureSchema();
        TTransaction t(*this);
        TSubmission row = s;
        if (!row.OutboxId.empty() && TakeSettled(row) && row.State == "delivered" && FSet.DropDelivered) {
            t.Commit();
            return;
        }
        InsertRow(row);
        if (row.State == "spam") CapSpam();
        t.Commit();
    }

    void Settle(const std::string& outboxId, const std::string& state, const std::string& reason) override {
        EnsureSchema();
        // No visitor waits on a state change and a machine crash can only leave it "kept": the
        // commit goes to the WAL without its own sync (the next post's commit syncs it).
        TSynchronous normal(*this, "PRAGMA synchronous = NORMAL", "PRAGMA synchronous = FULL");
        TTransaction t(*this);
        int64_t now = UnixMillis();
        bool drop = state == "delivered" && FSet.DropDelivered;
        int changed = drop ? DeleteWhere("s.outbox_id = ?1", outboxId) : UpdateState(outboxId, state, reason, now);
        if (changed == 0)
            Kept("INSERT OR REPLACE INTO settled VALUES(?1, ?2, ?3, ?4)").Text(1, outboxId).Text(2, state).Int(3, now).Text(4, reason).Run();
        t.Commit();
    }

    int64_t Purge(bool force) override {
        EnsureSchema();
        int64_t now = UnixMillis();
        if (!force && now - LastPurge() < kPurgeEveryMs) return 0;
        TTransaction t(*this);
        if (!force && now - LastPurge() < kPurgeEveryMs) return 0;
        int64_t removed = RemoveOlder("s.site = ?1 AND s.received < ?2", now - FSet.Days * kDayMs);
        removed += RemoveOlder("s.site = ?1 AND s.state = 'spam' AND s.received < ?2", now - kSpamDays * kDayMs);
        Statement("DELETE FROM settled WHERE at < ?1").Int(1, now - kDayMs).Run();
        Statement("INSERT OR REPLACE INTO meta VALUES(?1, ?2)").Text(1, "last_purge:" + FSet.Site).Text(2, std::to_string(now)).Run();
        t.Commit();
        Exec("PRAGMA incremental_vacuum;");
        return removed;
    }

    void Each(const TArchiveFilter& f, const std::function<void(const TSubmission&)>& row) override;
    std::optional<TSubmission> Get(const std::string& id) override;
    std::vector<std::string> FieldNames(const TArchiveFilter& f) override;

    int64_t Erase(const std::vector<std::string>& ids) override {
        EnsureSchema();
        TTransaction t(*this);
        int64_t removed = 0;
        for (const std::string& id : ids) removed += DeleteWhere("s.site = ?2 AND s.id = ?1", id);
        t.Commit();
        return removed;
    }

    std::vector<std::string> HoldingAddress(const std::string& address) override;
    TArchiveStats Stats() override;

private:
    // BEGIN IMMEDIATE takes the write lock at once, so a busy file waits in the busy timeout
    // instead of failing half-way; a transaction not committed is rolled back.
    class TTransaction {
    public:
        explicit TTransaction(TSqliteArchive& a) : FA(a) { FA.Kept("BEGIN IMMEDIATE").Run(); }
        ~TTransaction() {
            if (!FDone) FA.FFile.Api().Exec(FA.FFile.Db(), "ROLLBACK", nullptr, nullptr, nullptr);
        }
        void Commit() {
            FA.Kept("COMMIT").Run();
            FDone = true;
        }

    private:
        TSqliteArchive& FA;
        bool FDone = false;
    };

    class TSynchronous {
    public:
        TSynchronous(TSqliteArchive& a, const char* during, const char* after) : FA(a), FAfter(after) { FA.Kept(during).Run(); }
        ~TSynchronous() {
            try {
                FA.Kept(FAfter).Run();
            } catch (const TArchiveError&) {
                // A post must never commit without the full sync: the next write refuses, and the
                // connection is opened anew (with it) by the post after.
                FA.FSyncLost = true;
            }
        }

    private:
        TSqliteArchive& FA;
        const char* FAfter;
    };

    TSqliteStatement Statement(const char* sql) { return TSqliteStatement(FFile.Api(), FFile.Db(), sql); }
    // The statements every post runs, prepared once per connection (sql is a literal: its address is the key).
    TSqliteStatement Kept(const char* sql) {
        sqlite3_stmt*& stmt = FKept[sql];
        if (!stmt) stmt = PrepareKept(FFile.Api(), FFile.Db(), sql);
        return TSqliteStatement(FFile.Api(), FFile.Db(), stmt);
    }
    TSqliteStatement Statement(const std::string& sql) { return Statement(sql.c_str()); }
    void Exec(const char* sql) { SqliteCheck(FFile.Api(), FFile.Db(), FFile.Api().Exec(FFile.Db(), sql, nullptr, nullptr, nullptr), sql); }

    void EnsureSchema() {
        if (FSchemaDone) return;
        Init();
        FSchemaDone = true;
    }

    int UpdateState(const std::string& outboxId, const std::string& state, const std::string& reason, int64_t now) {
        auto q = Kept("UPDATE submissions SET state = ?1, state_at = ?2, reason = ?3 WHERE outbox_id = ?4");
        q.Text(1, state).Int(2, now).Text(3, reason).Text(4, outboxId).Run();
        return q.Changes();
    }

    bool TakeSettled(TSubmission& row) {
        auto q = Kept("DELETE FROM settled WHERE outbox_id = ?1 RETURNING state, at, reason");
        if (!q.Text(1, row.OutboxId).Step()) return false;
        row.State = q.Column(0);
        row.StateMs = q.ColumnInt(1);
        row.Reason = q.Column(2);
        while (q.Step()) {
        }
        return true;
    }

    void InsertRow(const TSubmission& s) {
        auto q = Kept("INSERT INTO submissions VALUES(?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9, ?10, ?11, ?12, ?13, ?14)");
        q.Text(1, s.Id).Int(2, s.ReceivedMs).Text(3, s.Site).Text(4, s.Client).Text(5, s.UserAgent).Text(6, s.Referer);
        q.Text(7, s.Recipients).Text(8, s.Subject).Text(9, s.MessageId).Text(10, s.Charset).Text(11, s.State);
        q.Int(12, s.StateMs).Text(13, s.Reason);
        if (s.OutboxId.empty()) q.Null(14);
        else q.Text(14, s.OutboxId);
        q.Run();
        auto field = Kept("INSERT INTO fields VALUES(?1, ?2, ?3, ?4)");
        for (size_t i = 0; i < s.Fields.size(); ++i) {
            field.Text(1, s.Id).Int(2, static_cast<int64_t>(i)).Text(3, s.Fields[i].first).Text(4, s.Fields[i].second).Run();
            field.Reset();
        }
        auto upload = Kept("INSERT INTO uploads VALUES(?1, ?2, ?3, ?4, ?5, ?6)");
        for (size_t i = 0; i < s.Uploads.size(); ++i) {
            const TArchivedUpload& u = s.Uploads[i];
            upload.Text(1, s.Id).Int(2, static_cast<int64_t>(i)).Text(3, u.Name).Text(4, u.Type).Int(5, u.Size).Blob(6, u.Bytes).Run();
            upload.Reset();
        }
    }

    // The oldest spam make room for the newest: at most kMostSpam of the site's are kept.
    void CapSpam() {
        auto q = Statement("SELECT id FROM submissions WHERE site = ?1 AND state = 'spam' ORDER BY id DESC LIMIT 1 OFFSET ?2");
        if (!q.Text(1, FSet.Site).Int(2, kMostSpam).Step()) return;
        std::string edge = q.Column(0);
        RemoveWhere("s.site = ?1 AND s.state = 'spam' AND s.id <= ?2", edge);
    }

    int DeleteWhere(const std::string& where, const std::string& value) {
        int removed = 0;
        for (const char* head : {kDeleteFields, kDeleteUploads, kDeleteRows}) {
            auto q = Statement(std::string(head) + where + ")");
            q.Text(1, value);
            if (where.find("?2") != std::string::npos) q.Text(2, FSet.Site);
            q.Run();
            removed = q.Changes();
        }
        return removed;
    }

    int RemoveWhere(const std::string& where, const std::string& edge) {
        int removed = 0;
        for (const char* head : {kDeleteFields, kDeleteUploads, kDeleteRows}) {
            auto q = Statement(std::string(head) + where + ")");
            q.Text(1, FSet.Site).Text(2, edge).Run();
            removed = q.Changes();
        }
        return removed;
    }

    int RemoveOlder(const std::string& where, int64_t before) {
        int removed = 0;
        for (const char* head : {kDeleteFields, kDeleteUploads, kDeleteRows}) {
            auto q = Statement(std::string(head) + where + ")");
            q.Text(1, FSet.Site).Int(2, before).Run();
            removed = q.Changes();
        }
        return removed;
    }

    int64_t LastPurge() {
        auto q = Kept("SELECT value FROM meta WHERE key = ?1");
        return q.Text(1, "last_purge:" + FSet.Site).Step() ? std::stoll("0" + q.Column(0)) : 0;
    }

    TSubmission ReadHead(const TSqliteStatement& q) const;

    TArchiveSettings FSet;
    TSqliteFile FFile;
    std::unordered_map<const char*, sqlite3_stmt*> FKept;
    bool FSchemaDone = false;
    bool FSyncLost = false;
};

constexpr const char* kHeadColumns =
    "SELECT id, received, site, client, user_agent, referer, recipients, subject, message_id, charset, state, state_at,"
    " reason, outbox_id FROM submissions ";

TSubmission TSqliteArchive::ReadHead(const TSqliteStatement& q) const {
    TSubmission s;
    s.Id = q.Column(0);
    s.ReceivedMs = q.ColumnInt(1);
    s.Site = q.Column(2);
    s.Client = q.Column(3);
    s.UserAgent = q.Column(4);
    s.Referer = q.Column(5);
    s.Recipients = q.Column(6);
    s.Subject = q.Column(7);
    s.MessageId = q.Column(8);
    s.Charset = q.Column(9);
    s.State = q.Column(10);
    s.StateMs = q.ColumnInt(11);
    s.Reason = q.Column(12);
    s.OutboxId = q.Column(13);
    return s;
}

// Three cursors in id order, merged: one pass over each table however many rows are exported. The
// fields and uploads of other sites or times are stepped over, which costs less than asking the
// database to filter them through the submissions.
void TSqliteArchive::Each(const TArchiveFilter& f, const std::function<void(const TSubmission&)>& row) {
    EnsureSchema();
    Exec("BEGIN");  // one snapshot for the three cursors
    try {
        auto heads = Statement(kHeadColumns +
                               std::string("WHERE site = ?1 AND received >= ?2 AND received < ?3 AND (?4 = '' OR state = ?4) ORDER BY id"));
        heads.Text(1, FSet.Site).Int(2, f.SinceMs).Int(3, f.UntilMs).Text(4, f.State);
        auto fields = Statement("SELECT submission, name, value FROM fields ORDER BY submission, position");
        auto uploads = Statement(std::string("SELECT submission, name, type, size, ") + (f.UploadBytes ? "bytes" : "NULL") +
                                 " FROM uploads ORDER BY submission, position");
        bool fieldRow = fields.Step(), uploadRow = uploads.Step();
        while (heads.Step()) {
            TSubmission s = ReadHead(heads);
            for (; fieldRow && fields.ColumnView(0) < s.Id; fieldRow = fields.Step()) {
            }
            for (; fieldRow && fields.ColumnView(0) == s.Id; fieldRow = fields.Step())
                s.Fields.emplace_back(fields.ColumnView(1), fields.ColumnView(2));
            for (; uploadRow && uploads.ColumnView(0) < s.Id; uploadRow = uploads.Step()) {
            }
            for (; uploadRow && uploads.ColumnView(0) == s.Id; uploadRow = uploads.Step())
                s.Uploads.push_back({uploads.Column(1), uploads.Column(2), uploads.ColumnInt(3), uploads.Column(4)});
            row(s);
        }
    } catch (...) {
        FFile.Api().Exec(FFile.Db(), "ROLLBACK", nullptr, nullptr, nullptr);
        throw;
    }
    Exec("COMMIT");
}

std::vector<std::string> TSqliteArchive::FieldNames(const TArchiveFilter& f) {
    EnsureSchema();
    auto q = Statement(
        "SELECT name FROM fields WHERE submission IN (SELECT id FROM submissions WHERE site = ?1 AND received >= ?2"
        " AND received < ?3 AND (?4 = '' OR state = ?4)) ORDER BY submission, position");
    q.Text(1, FSet.Site).Int(2, f.SinceMs).Int(3, f.UntilMs).Text(4, f.State);
    std::vector<std::string> names;
    std::unordered_set<std::string> seen;
    while (q.Step()) {
        std::string name = q.Column(0);
        if (seen.insert(name).second) names.push_back(std::move(name));
    }
    return names;
}

std::optional<TSubmission> TSqliteArchive::Get(const std::string& id) {
    EnsureSchema();
    auto head = Statement(kHeadColumns + std::string("WHERE site = ?1 AND id = ?2"));
    if (!head.Text(1, FSet.Site).Text(2, id).Step()) return std::nullopt;
    TSubmission s = ReadHead(head);
    auto fields = Statement("SELECT name, value FROM fields WHERE submission = ?1 ORDER BY position");
    for (fields.Text(1, id); fields.Step();) s.Fields.emplace_back(fields.Column(0), fields.Column(1));
    auto uploads = Statement("SELECT name, type, size, bytes FROM uploads WHERE submission = ?1 ORDER BY position");
    for (uploads.Text(1, id); uploads.Step();)
        s.Uploads.push_back({uploads.Column(0), uploads.Column(1), uploads.ColumnInt(2), uploads.Column(3)});
    return s;
}

std::vector<std::string> TSqliteArchive::HoldingAddress(const std::string& address) {
    EnsureSchema();
    // instr narrows the rows in the database; HoldsAddress then insists on a whole address.
    auto q = Statement(
        "SELECT f.submission, f.value FROM fields f JOIN submissions s ON s.id = f.submission"
        " WHERE s.site = ?1 AND instr(lower(f.value), lower(?2)) > 0 ORDER BY f.submission");
    std::vector<std::string> ids;
    for (q.Text(1, FSet.Site).Text(2, address); q.Step();) {
        std::string id = q.Column(0);
        if ((ids.empty() || ids.back() != id) && HoldsAddress(q.Column(1), address)) ids.push_back(id);
    }
    return ids;
}

TArchiveStats TSqliteArchive::Stats() {
    EnsureSchema();
    TArchiveStats st;
    auto count = Statement("SELECT count(*), min(received) FROM submissions WHERE site = ?1 AND state = ?2");
    for (const std::string& state : SubmissionStates()) {
        count.Text(1, FSet.Site).Text(2, state).Step();
        st.Counts.emplace_back(state, count.ColumnInt(0));
        int64_t oldest = count.ColumnInt(1);
        if (oldest > 0 && (st.OldestMs == 0 || oldest < st.OldestMs)) st.OldestMs = oldest;
        count.Reset();
    }
    auto size = Statement("SELECT page_count * page_size FROM pragma_page_count(), pragma_page_size()");
    if (size.Step()) st.Bytes = size.ColumnInt(0);
    return st;
}

}  // namespace

std::unique_ptr<TArchiveStore> OpenSqliteArchive(const TArchiveSettings& settings,
                                                 const std::function<void(const std::string&)>& log) {
    return std::make_unique<TSqliteArchive>(settings, OpenSqliteFile(settings, log));
}

}  // namespace velmora
