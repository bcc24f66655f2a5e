// The management answers: this server takes one request per connection (no multiplexing) and as
// many requests as connections. Names it does not know are left out, as the protocol asks.
#include "FcgiManagement.h"

#include "FcgiPairs.h"
#include "FcgiRecords.h"

namespace velmora::fcgi {

namespace {

// More names than any server asks about; each is answered once, so a record full of repeats
// cannot make an answer larger than the question.
constexpr size_t kMaxNames = 64;

}  // namespace

bool AnswerManagement(std::string& out, uint8_t type, std::string_view content, int maxConnections) {
    if (type != kGetValues) {
        const char body[8] = {static_cast<char>(type), 0, 0, 0, 0, 0, 0, 0};
        AppendRecord(out, kUnknownType, 0, std::string_view(body, sizeof body));
        return true;
    }
    TPairs asked;
    if (!DecodePairs(content, kMaxNames, asked)) return false;
    const std::string limit = std::to_string(maxConnections);
    const std::pair<std::string_view, std::string_view> known[] = {
        {"FCGI_MAX_CONNS", limit}, {"FCGI_MAX_REQS", limit}, {"FCGI_MPXS_CONNS", "0"}};
    std::string pairs;
    for (const auto& [name, value] : known) {
        for (const auto& a : asked) {
            if (a.first != name) continue;
            EncodePair(pairs, name, value);
            break;
        }
    }
    AppendRecord(out, kGetValuesResult, 0, pairs);
    return true;
}

}  // namespace velmora::fcgi
