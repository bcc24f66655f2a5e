// The archive behind one interface, whatever keeps it (a SQLite file, a PostgreSQL database):
// writing a post, settling a kept mail's state, reading for export, erasing and purging.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "ArchiveSettings.h"
#include "Submission.h"

namespace velmora {

// The archive cannot be used now (locked past the timeout, disk full, server down, login refused).
struct TArchiveError : std::runtime_error {
    using std::runtime_error::runtime_error;
};
// The SQLite file is no database, or a damaged one: it is moved aside and a new one started.
struct TArchiveCorrupt : TArchiveError {
    using TArchiveError::TArchiveError;
};

struct TArchiveFilter {
    int64_t SinceMs = 0;
    int64_t UntilMs = INT64_MAX;
    std::string State;  // empty: every state
    bool UploadBytes = false;
};

struct TArchiveStats {
    std::vector<std::pair<std::string, int64_t>> Counts;  // per state, in SubmissionStates' order
    int64_t OldestMs = 0;                                  // 0: no submission
    int64_t Bytes = 0;                                     // the database's size
};

// One site's view of an archive: every read, erasure and purge is limited to the site's rows.
class TArchiveStore {
public:
    virtual ~TArchiveStore() = default;
    // In one transaction, durable when it returns. A kept mail the outbox settled before this
    // write takes the settled state.
    virtual void Write(const TSubmission& s) = 0;
    // The outbox delivered (or gave up on) the kept message outboxId.
    virtual void Settle(const std::string& outboxId, const std::string& state, const std::string& reason) = 0;
    // Deletes what is past its time, at most once an hour unless forced; the rows removed.
    virtual int64_t Purge(bool force) = 0;
    virtual void Each(const TArchiveFilter& filter, const std::function<void(const TSubmission&)>& row) = 0;
    virtual std::optional<TSubmission> Get(const std::string& id) = 0;
    // The field names of the filter's submissions, each once, in the order first posted.
    virtual std::vector<std::string> FieldNames(const TArchiveFilter& filter) = 0;
    // The rows removed.
    virtual int64_t Erase(const std::vector<std::string>& ids) = 0;
    // The ids of the site's submissions with a field whose value holds address (case ignored).
    virtual std::vector<std::string> HoldingAddress(const std::string& address) = 0;
    virtual TArchiveStats Stats() = 0;
    // Creates the tables when missing (a write does this too); the schema version.
    virtual int Init() = 0;
    // Throws unless a row could be written now (the write is rolled back): for velmora-ini check.
    virtual void Probe() = 0;
};

// Opens the site's archive; throws TArchiveError. Null when the archive is off.
std::unique_ptr<TArchiveStore> OpenArchive(const TArchiveSettings& settings);

// Whether value holds address as a whole address (not as part of a longer one), case ignored.
bool HoldsAddress(const std::string& value, const std::string& address);

}  // namespace velmora
