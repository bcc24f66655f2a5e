// THttpEngine::ReadMultipartData: decodes a multipart/form-data body into the form data string,
// collecting the upload files in the thread's list so that EndRequest can delete them.
#include "HttpEng.h"
#include "Multipart.h"

namespace velmora {

void THttpEngine::ReadMultipartData(std::string& data) {
    TRequestState& rs = RequestState();
    rs.UploadFiles = std::make_unique<TStringList>();
    ParseMultipart(data, TempDir, *rs.UploadFiles);
}

}  // namespace velmora
