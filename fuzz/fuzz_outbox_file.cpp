// Fuzz target for what the outbox reads back from its folder, which any process of the web
// server's user can write: a file name parses to retry state that names itself again, and a
// file's bytes either make a whole message of a named relay or are refused, never more.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "Outbox.h"
#include "Streams.h"

using namespace velmora;

namespace {

void Check(bool ok) {
    if (!ok) std::abort();
}

void CheckName(const std::string& name) {
    TOutboxEntry e;
    if (!ParseOutboxName(name, e)) return;
    Check(e.Name == name && e.Attempts >= 0 && e.Unanswered >= 0 && e.Unanswered <= 1000);
    TOutboxEntry again;
    Check(ParseOutboxName(OutboxName(e.Id, e.Attempts, e.NextTry, e.Unanswered), again));
    Check(again.Id == e.Id && again.Attempts == e.Attempts && again.NextTry == e.NextTry &&
          again.Unanswered == e.Unanswered && again.Queued == e.Queued);
}

void CheckFile(const std::string& bytes) {
    TMemoryStream file;
    file.Write(bytes.data(), static_cast<long>(bytes.size()));
    TQueuedMail mail;
    std::string why;
    if (!ReadQueuedMail(file, mail, why)) {
        Check(!why.empty());
        return;
    }
    Check(mail.DataOffset > 0 && mail.DataOffset <= static_cast<int64_t>(bytes.size()));
    Check(bytes.size() >= 5 && bytes.compare(bytes.size() - 5, 5, "\r\n.\r\n") == 0);
    Check(mail.Relay.Configured || !mail.Relay.Host.empty());
    Check(file.Position() == mail.DataOffset);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string in(reinterpret_cast<const char*>(data), size);
    CheckName(in);
    CheckFile(in);
    return 0;
}
