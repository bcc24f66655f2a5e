// THttpEngine::ReadMultipartData: decodes a multipart/form-data body into the form data string,
// collecting the upload files in the thread's list so that EndRequest can delete them (and a
// signal that ends the process, before EndRequest can run).
#include <mutex>

#include "EndSignalCleanup.h"
#include "HttpEng.h"
#include "Multipart.h"
#include "UploadFileName.h"

namespace velmora {

void THttpEngine::ReadMultipartData(std::string& data) {
    // Once per process, before its first upload: a killed request's files go with it, and the
    // files of requests killed without a chance (SIGKILL) are swept once they are an hour old.
    static std::once_flag once;
    std::call_once(once, [this] {
        InstallEndSignalCleanup();
        SweepOldUploadFiles(TempDir);
    });
    TRequestState& rs = RequestState();
    rs.UploadFiles = std::make_unique<TStringList>();
    ParseMultipart(data, TempDir, *rs.UploadFiles);
}

}  // namespace velmora
