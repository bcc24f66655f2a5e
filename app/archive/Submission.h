// One archived post as the archive keeps it: who sent it, what was mailed, every field in posting
// order, the uploads, and the state its mail is in. Shared by the stores, the hooks and the export.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace velmora {

struct TArchivedUpload {
    std::string Name, Type;
    int64_t Size = 0;
    std::string Bytes;  // empty unless the site keeps uploads
};

struct TSubmission {
    std::string Id;          // UUID version 7 text: sorts by time
    int64_t ReceivedMs = 0;  // Unix milliseconds, UTC
    std::string Site;        // the store prefix of the site: several sites may share one database
    std::string Client, UserAgent, Referer;
    std::string Recipients, Subject, MessageId;
    std::string Charset;     // what the mail declared the fields' bytes to be
    std::vector<std::pair<std::string, std::string>> Fields;
    std::vector<TArchivedUpload> Uploads;
    std::string State;       // mailed, kept, delivered, failed, undeliverable, spam
    int64_t StateMs = 0;
    std::string Reason;
    std::string OutboxId;    // the kept message's id, how the outbox names it when it settles
};

// The states a submission can be in, in the order stats list them.
inline const std::vector<std::string>& SubmissionStates() {
    static const std::vector<std::string> states{"mailed", "kept", "delivered", "failed", "undeliverable", "spam"};
    return states;
}

}  // namespace velmora
