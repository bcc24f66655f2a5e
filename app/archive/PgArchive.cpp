// The PostgreSQL archive's statements. A post is one statement (one round trip): its row, fields
// and uploads go in through arrays, and a state the outbox settled first is taken in the same go.
#include "PgArchive.h"

#include <unordered_set>

#include "PgStatement.h"
#include "SubmissionId.h"

namespace velmora {

namespace {

constexpr int kSchemaVersion = 1;
constexpr int64_t kPurgeEveryMs = 3600 * 1000;
constexpr int64_t kDayMs = 86400 * 1000;

// Under an advisory lock: two nodes creating the tables at once would collide in the catalog.
// Everything a client wrote is bytea, so any bytes are kept as they came.
constexpr const char* kSchema =
    "BEGIN; SELECT pg_advisory_xact_lock(7405201);"
    "CREATE TABLE IF NOT EXISTS archive_submissions(id text PRIMARY KEY, received int8 NOT NULL, site text NOT NULL,"
    " client text, user_agent bytea, referer bytea, recipients bytea, subject bytea, message_id bytea, charset text,"
    " state text NOT NULL, state_at int8 NOT NULL, reason bytea, outbox_id text);"
    "CREATE INDEX IF NOT EXISTS archive_submissions_site ON archive_submissions(site, id);"
    "CREATE INDEX IF NOT EXISTS archive_submissions_outbox ON archive_submissions(outbox_id);"
    "CREATE TABLE IF NOT EXISTS archive_fields(submission text NOT NULL, position int8 NOT NULL, name bytea,"
    " value bytea, PRIMARY KEY(submission, position));"
    "CREATE TABLE IF NOT EXISTS archive_uploads(submission text NOT NULL, position int8 NOT NULL, name bytea,"
    " type bytea, size int8, bytes bytea, PRIMARY KEY(submission, position));"
    "CREATE TABLE IF NOT EXISTS archive_outbox(outbox_id text PRIMARY KEY, submission text, state text, at int8, reason bytea);"
    "CREATE TABLE IF NOT EXISTS archive_meta(key text PRIMARY KEY, value text);"
    "INSERT INTO archive_meta VALUES('schema_version', '1') ON CONFLICT DO NOTHING;"
    "COMMIT;";

// A kept mail's row and the outbox's report may come in either order and at once, from two
// machines. Both meet in archive_outbox through INSERT ... ON CONFLICT, which waits for the other's
// commit and then reads the latest row whatever the statement's snapshot: the post takes a state
// reported first, the report learns the id of a post written first.
constexpr const char* kWrite =
    "WITH o AS (INSERT INTO archive_outbox(outbox_id, submission, at) SELECT $14::text, $1::text, $2::int8"
    "  WHERE $14::text IS NOT NULL ON CONFLICT (outbox_id) DO UPDATE SET submission = EXCLUDED.submission"
    "  RETURNING state, at, reason),"
    " s AS (INSERT INTO archive_submissions SELECT $1::text, $2::int8, $3::text, $4::text, $5::bytea, $6::bytea,"
    "  $7::bytea, $8::bytea, $9::bytea, $10::text, COALESCE((SELECT state FROM o), $11::text),"
    "  CASE WHEN (SELECT state FROM o) IS NULL THEN $12::int8 ELSE (SELECT at FROM o) END,"
    "  COALESCE((SELECT reason FROM o), $13::bytea), $14::text"
    "  WHERE NOT ($15::bool AND COALESCE((SELECT state FROM o), '') = 'delivered') RETURNING id),"
    " f AS (INSERT INTO archive_fields SELECT s.id, t.o - 1, t.n, t.v FROM s,"
    "  unnest($16::bytea[], $17::bytea[]) WITH ORDINALITY AS t(n, v, o)),"
    " u AS (INSERT INTO archive_uploads SELECT s.id, t.o - 1, t.n, t.ty, t.sz, t.b FROM s,"
    "  unnest($18::bytea[], $19::bytea[], $20::int8[], $21::bytea[]) WITH ORDINALITY AS t(n, ty, sz, b, o))"
    " SELECT count(*) FROM s";

constexpr const char* kReport =
    "INSERT INTO archive_outbox(outbox_id, state, at, reason) VALUES($1::text, $2::text, $3::int8, $4::bytea)"
    " ON CONFLICT (outbox_id) DO UPDATE SET state = EXCLUDED.state, at = EXCLUDED.at, reason = EXCLUDED.reason"
    " RETURNING submission";

// A second statement, so that its snapshot holds a post the report had to wait for.
constexpr const char* kSettleRow =
    "UPDATE archive_submissions SET state = $2::text, state_at = $3::int8, reason = $4::bytea WHERE outbox_id = $1::text";

// The submissions a condition over s ($1: the site) selects, with their fields and uploads.
std::string DeleteWhere(const std::string& where) {
    return "WITH d AS (DELETE FROM archive_submissions s WHERE " + where + " RETURNING id),"
           " df AS (DELETE FROM archive_fields WHERE submission IN (SELECT id FROM d)),"
           " du AS (DELETE FROM archive_uploads WHERE submission IN (SELECT id FROM d)) SELECT count(*) FROM d";
}

constexpr const char* kHead =
    "SELECT id, received, site, client, user_agent, referer, recipients, subject, message_id, charset, state, state_at,"
    " reason, outbox_id FROM archive_submissions ";

class TPgConnection {
public:
    explicit TPgConnection(const TArchiveSettings& s) : FApi(*Pq()) {
        long seconds = s.TimeoutMs / 1000 + (s.TimeoutMs % 1000 ? 1 : 0);
        std::string timeout = std::to_string(seconds < 2 ? 2 : seconds);  // libpq's least
        std::string options = "-c statement_timeout=" + std::to_string(s.TimeoutMs) + " -c client_encoding=UTF8";
        const char* keys[] = {"dbname", "connect_timeout", "options", "application_name", nullptr};
        const char* values[] = {s.Address.c_str(), timeout.c_str(), options.c_str(), "velmora", nullptr};
        FConn = FApi.ConnectParams(keys, values, 1);
        if (!FConn || FApi.Status(FConn) != kPgConnectionOk) {
            std::string why = FConn ? FApi.ErrorMessage(FConn) : "out of memory";
            if (FConn) FApi.Finish(FConn);
            while (!why.empty() && why.back() == '\n') why.pop_back();
            throw TArchiveError(why);
        }
    }
    ~TPgConnection() { FApi.Finish(FConn); }
    const TPq& Api() const { return FApi; }
    TPgConn* Conn() const { return FConn; }

private:
    const TPq& FApi;
    TPgConn* FConn = nullptr;
};

class TPgArchive : public TArchiveStore {
public:
    explicit TPgArchive(const TArchiveSettings& s) : FSet(s), FDb(s) {}

    int Init() override {
        TPgResult* r = FDb.Api().Exec(FDb.Conn(), kSchema);
        int status = r ? FDb.Api().ResultStatus(r) : -1;
        std::string why = r ? FDb.Api().ResultErrorMessage(r) : "the server did not answer";
        if (r) FDb.Api().Clear(r);
        if (status != kPgCommandOk && status != kPgTuplesOk) {
            FDb.Api().Clear(FDb.Api().Exec(FDb.Conn(), "ROLLBACK"));
            throw TArchiveError("tables not made: " + why);
        }
        return kSchemaVersion;
    }

    void Probe() override {
        EnsureSchema();
        Run("BEGIN", TPgParams{});
        try {
            Run("INSERT INTO archive_meta VALUES('probe', '1') ON CONFLICT (key) DO UPDATE SET value = '1'", TPgParams{});
        } catch (...) {
            FDb.Api().Clear(FDb.Api().Exec(FDb.Conn(), "ROLLBACK"));
            throw;
        }
        Run("ROLLBACK", TPgParams{});
    }

    void Write(const TSubmission& s) override {
        EnsureSchema();
        TPgParams p;
        p.Bytes(s.Id).Int(s.ReceivedMs).Bytes(s.Site).Bytes(s.Client).Bytes(s.UserAgent).Bytes(s.Referer);
        p.Bytes(s.Recipients).Bytes(s.Subject).Bytes(s.MessageId).Bytes(s.Charset).Bytes(s.State).Int(s.StateMs);
        p.Bytes(s.Reason);
        if (s.OutboxId.empty()) p.Null();
        else p.Bytes(s.OutboxId);
        p.Bool(FSet.DropDelivered);
        std::vector<std::string> names, values, uploadNames, types, bytes;
        std::vector<int64_t> sizes;
        for (const auto& [n, v] : s.Fields) names.push_back(n), values.push_back(v);
        for (const TArchivedUpload& u : s.Uploads)
            uploadNames.push_back(u.Name), types.push_back(u.Type), sizes.push_back(u.Size), bytes.push_back(u.Bytes);
        p.ByteaArray(names).ByteaArray(values).ByteaArray(uploadNames).ByteaArray(types).Int8Array(sizes).ByteaArray(bytes);
        Run(kWrite, p);
        if (s.State == "spam") CapSpam();
    }

    void Settle(const std::string& outboxId, const std::string& state, const std::string& reason) override {
        EnsureSchema();
        TPgParams p;
        p.Bytes(outboxId).Bytes(state).Int(UnixMillis()).Bytes(reason);
        Run(kReport, p);
        if (state == "delivered" && FSet.DropDelivered) {
            TPgParams id;
            id.Bytes(outboxId);
            Run(DeleteWhere("s.outbox_id = $1::text").c_str(), id);
        } else {
            Run(kSettleRow, p);
        }
    }

    int64_t Purge(bool force) override {
        EnsureSchema();
        int64_t now = UnixMillis();
        TPgParams key;
        key.Bytes("last_purge:" + FSet.Site);
        TPgRows last(FDb.Api(), FDb.Conn(), "SELECT value FROM archive_meta WHERE key = $1::text", key);
        if (!force && last.Rows() > 0 && now - std::stoll("0" + last.Bytes(0, 0)) < kPurgeEveryMs) return 0;
        TPgParams p;
        p.Bytes(FSet.Site).Int(now - FSet.Days * kDayMs).Int(now - kSpamDays * kDayMs);
        int64_t removed = Run(DeleteWhere("site = $1::text AND (received < $2::int8 OR (state = 'spam' AND received < $3::int8))").c_str(), p).Int(0, 0);
        // The outbox gives up on a mail within a year at most (outbox_give_up_days).
        TPgParams old;
        old.Int(now - 366 * kDayMs);
        Run("DELETE FROM archive_outbox WHERE at < $1::int8", old);
        TPgParams mark;
        mark.Bytes("last_purge:" + FSet.Site).Bytes(std::to_string(now));
        Run("INSERT INTO archive_meta VALUES($1::text, $2::text) ON CONFLICT (key) DO UPDATE SET value = EXCLUDED.value", mark);
        return removed;
    }

    void Each(const TArchiveFilter& f, const std::function<void(const TSubmission&)>& row) override;
    std::optional<TSubmission> Get(const std::string& id) override;

    std::vector<std::string> FieldNames(const TArchiveFilter& f) override {
        EnsureSchema();
        TPgParams p;
        p.Bytes(FSet.Site).Int(f.SinceMs).Int(f.UntilMs).Bytes(f.State);
        TPgRows r = Run("SELECT name FROM archive_fields WHERE submission IN (SELECT id FROM archive_submissions WHERE"
                        " site = $1::text AND received >= $2::int8 AND received < $3::int8 AND ($4::text = '' OR state = $4::text))"
                        " ORDER BY submission, position", p);
        std::vector<std::string> names;
        std::unordered_set<std::string> seen;
        for (int i = 0; i < r.Rows(); ++i)
            if (seen.insert(r.Bytes(i, 0)).second) names.push_back(r.Bytes(i, 0));
        return names;
    }

    int64_t Erase(const std::vector<std::string>& ids) override {
        EnsureSchema();
        TPgParams p;
        p.Bytes(FSet.Site).ByteaArray(ids);
        return Run(DeleteWhere("site = $1::text AND convert_to(id, 'UTF8') = ANY($2::bytea[])").c_str(), p).Int(0, 0);
    }

    std::vector<std::string> HoldingAddress(const std::string& address) override {
        EnsureSchema();
        TPgParams p;
        p.Bytes(FSet.Site).Bytes(address);
        // strpos narrows the rows in the database; HoldsAddress then insists on a whole address.
        TPgRows r = Run("SELECT f.submission, f.value FROM archive_fields f JOIN archive_submissions s ON s.id = f.submission"
                        " WHERE s.site = $1::text AND strpos(lower(encode(f.value, 'escape')), lower($2::text)) > 0"
                        " ORDER BY f.submission", p);
        std::vector<std::string> ids;
        for (int i = 0; i < r.Rows(); ++i)
            if ((ids.empty() || ids.back() != r.Bytes(i, 0)) && HoldsAddress(r.Bytes(i, 1), address)) ids.push_back(r.Bytes(i, 0));
        return ids;
    }

    TArchiveStats Stats() override {
        EnsureSchema();
        TPgParams p;
        p.Bytes(FSet.Site);
        TPgRows r = Run("SELECT state, count(*)::int8, min(received) FROM archive_submissions WHERE site = $1::text GROUP BY state", p);
        TArchiveStats st;
        for (const std::string& state : SubmissionStates()) {
            int64_t n = 0;
            for (int i = 0; i < r.Rows(); ++i)
                if (r.Bytes(i, 0) == state) {
                    n = r.Int(i, 1);
                    if (st.OldestMs == 0 || r.Int(i, 2) < st.OldestMs) st.OldestMs = r.Int(i, 2);
                }
            st.Counts.emplace_back(state, n);
        }
        TPgRows size = Run("SELECT (pg_total_relation_size('archive_submissions') + pg_total_relation_size('archive_fields')"
                           " + pg_total_relation_size('archive_uploads'))::int8", TPgParams{});
        st.Bytes = size.Int(0, 0);
        return st;
    }

private:
    TPgRows Run(const char* sql, const TPgParams& p) { return TPgRows(FDb.Api(), FDb.Conn(), sql, p); }

    void EnsureSchema() {
        if (FSchemaDone) return;
        Init();
        FSchemaDone = true;
    }

    void CapSpam() {
        TPgParams p;
        p.Bytes(FSet.Site).Int(kMostSpam);
        Run(DeleteWhere("site = $1::text AND state = 'spam' AND id <= (SELECT id FROM archive_submissions"
                        " WHERE site = $1::text AND state = 'spam' ORDER BY id DESC LIMIT 1 OFFSET $2::int8)").c_str(), p);
    }

    static TSubmission Head(const TPgRows& r, int i) {
        TSubmission s;
        s.Id = r.Bytes(i, 0);
        s.ReceivedMs = r.Int(i, 1);
        s.Site = r.Bytes(i, 2);
        s.Client = r.Bytes(i, 3);
        s.UserAgent = r.Bytes(i, 4);
        s.Referer = r.Bytes(i, 5);
        s.Recipients = r.Bytes(i, 6);
        s.Subject = r.Bytes(i, 7);
        s.MessageId = r.Bytes(i, 8);
        s.Charset = r.Bytes(i, 9);
        s.State = r.Bytes(i, 10);
        s.StateMs = r.Int(i, 11);
        s.Reason = r.Bytes(i, 12);
        s.OutboxId = r.Bytes(i, 13);
        return s;
    }

    TArchiveSettings FSet;
    TPgConnection FDb;
    bool FSchemaDone = false;
};

void TPgArchive::Each(const TArchiveFilter& f, const std::function<void(const TSubmission&)>& row) {
    EnsureSchema();
    std::string range = "site = $1::text AND received >= $2::int8 AND received < $3::int8 AND ($4::text = '' OR state = $4::text)";
    TPgParams p;
    p.Bytes(FSet.Site).Int(f.SinceMs).Int(f.UntilMs).Bytes(f.State);
    // One snapshot for the three reads, as in the SQLite store.
    Run("BEGIN ISOLATION LEVEL REPEATABLE READ", TPgParams{});
    try {
        TPgRows heads = Run((kHead + ("WHERE " + range + " ORDER BY id")).c_str(), p);
        std::string in = " IN (SELECT id FROM archive_submissions WHERE " + range + ")";
        TPgRows fields = Run(("SELECT submission, name, value FROM archive_fields WHERE submission" + in + " ORDER BY submission, position").c_str(), p);
        TPgRows uploads = Run((std::string("SELECT submission, name, type, size, ") + (f.UploadBytes ? "bytes" : "NULL::bytea") +
                               " FROM archive_uploads WHERE submission" + in + " ORDER BY submission, position").c_str(), p);
        Run("COMMIT", TPgParams{});
        int fi = 0, ui = 0;
        for (int i = 0; i < heads.Rows(); ++i) {
            TSubmission s = Head(heads, i);
            for (; fi < fields.Rows() && fields.Bytes(fi, 0) == s.Id; ++fi) s.Fields.emplace_back(fields.Bytes(fi, 1), fields.Bytes(fi, 2));
            for (; ui < uploads.Rows() && uploads.Bytes(ui, 0) == s.Id; ++ui)
                s.Uploads.push_back({uploads.Bytes(ui, 1), uploads.Bytes(ui, 2), uploads.Int(ui, 3), uploads.Bytes(ui, 4)});
            row(s);
        }
    } catch (...) {
        FDb.Api().Clear(FDb.Api().Exec(FDb.Conn(), "ROLLBACK"));
        throw;
    }
}

std::optional<TSubmission> TPgArchive::Get(const std::string& id) {
    EnsureSchema();
    TPgParams p;
    p.Bytes(FSet.Site).Bytes(id);
    TPgRows head = Run((kHead + std::string("WHERE site = $1::text AND id = $2::text")).c_str(), p);
    if (head.Rows() == 0) return std::nullopt;
    TSubmission s = Head(head, 0);
    TPgParams q;
    q.Bytes(id);
    TPgRows fields = Run("SELECT name, value FROM archive_fields WHERE submission = $1::text ORDER BY position", q);
    for (int i = 0; i < fields.Rows(); ++i) s.Fields.emplace_back(fields.Bytes(i, 0), fields.Bytes(i, 1));
    TPgRows uploads = Run("SELECT name, type, size, bytes FROM archive_uploads WHERE submission = $1::text ORDER BY position", q);
    for (int i = 0; i < uploads.Rows(); ++i)
        s.Uploads.push_back({uploads.Bytes(i, 0), uploads.Bytes(i, 1), uploads.Int(i, 2), uploads.Bytes(i, 3)});
    return s;
}

}  // namespace

std::unique_ptr<TArchiveStore> OpenPgArchive(const TArchiveSettings& settings) {
    if (!Pq()) throw TArchiveError(std::string(PqLibraryName()) + " cannot be loaded (install libpq5)");
    return std::make_unique<TPgArchive>(settings);
}

}  // namespace velmora
