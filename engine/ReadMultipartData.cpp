// THttpEngine::ReadMultipartData: decodes a multipart/form-data body into the form data string,
// collecting the upload files in the thread's list so that EndRequest can delete them (and a
// signal that ends the process, before EndRequest can run).
#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>

#include "EndSignalCleanup.h"
#include "HttpEng.h"
#include "Multipart.h"
#include "System.h"
#include "UploadFileName.h"

namespace velmora {

namespace {

constexpr uint64_t kSweepIntervalMs = 3600 * 1000;

std::function<int()>& UploadFileLimitRule() {
    static std::function<int()> rule;
    return rule;
}

int UploadFileLimit() { return UploadFileLimitRule() ? UploadFileLimitRule()() : 0; }

}  // namespace

void SetUploadFileLimitRule(std::function<int()> rule) { UploadFileLimitRule() = std::move(rule); }

void THttpEngine::ReadMultipartData(std::string& data) {
    // Once per process, before its first upload: a killed request's files go with it. The files
    // of requests killed without a chance (SIGKILL) are swept once they are an hour old, at the
    // first upload and then hourly, so a resident process finds them too.
    static std::once_flag once;
    std::call_once(once, [] { InstallEndSignalCleanup(); });
    PrepareUploadFolder(TempDir);
    static std::atomic<uint64_t> lastSweep{0};
    const uint64_t now = TickCount();
    uint64_t last = lastSweep.load();
    if ((last == 0 || now - last >= kSweepIntervalMs) && lastSweep.compare_exchange_strong(last, now))
        SweepOldUploadFiles(TempDir);
    TRequestState& rs = RequestState();
    rs.UploadFiles = std::make_unique<TStringList>();
    const TMultipartOutcome outcome = ParseMultipart(data, TempDir, *rs.UploadFiles, UploadFileLimit());
    rs.TooManyUploads = outcome == TMultipartOutcome::TooManyFiles;
    rs.TextPartTooLong = outcome == TMultipartOutcome::TextTooLong;
}

}  // namespace velmora
