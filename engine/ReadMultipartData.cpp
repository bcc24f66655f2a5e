// THttpEngine::ReadMultipartData: decodes a multipart/form-data body into the request's form data.
// The upload list it starts belongs to the running request; EndRequest deletes its files.
#include "HttpEng.h"
#include "Multipart.h"

namespace velmora {

void THttpEngine::ReadMultipartData(std::string& data) {
    RequestState().UploadFiles = std::make_unique<TStringList>();
    ParseMultipart(data, TempDir, *RequestState().UploadFiles);
}

}  // namespace velmora
