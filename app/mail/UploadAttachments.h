// The files uploaded with a post, as attachment lines of the mail ("name <path>"): only upload
// files the engine made for this request, under the client's file name made harmless.
#pragma once

#include <string>
#include <vector>

#include "StringList.h"

namespace velmora {

// The attachment name for a client file name: its last component, without control bytes and
// angle brackets; "upload" when nothing is left.
std::string AttachmentNameFor(const std::string& clientName);

struct TUploadAttachments {
    TStringList Lines;                 // one attachment line per uploaded file, in posting order
    std::vector<std::string> Fields;   // the derived fields (N_FILENAME, N_CONTENT_TYPE) the mail need not list
};

// The values of an upload field and its derived fields, one per file: the engine joins the values
// of a field posted several times with CR LF.
std::vector<std::string> UploadFieldLines(const std::string& value);

// The uploads of the calling thread's request. A field N_FILENAME counts only when its path is one
// of the request's own upload files: a plain form could otherwise name any file on the server.
TUploadAttachments RequestUploads();

}  // namespace velmora
