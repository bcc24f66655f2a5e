// Finding a request's uploads: the form gives, for a file field N, the client's names in N and the
// upload paths in N_FILENAME (several files of one name come as lines of one value); each path is
// checked against the engine's list of upload files before it is attached.
#include "UploadAttachments.h"

#include <unordered_set>

#include "ControlChars.h"
#include "HAdaptor.h"
#include "HttpEng.h"
#include "UploadFileName.h"

namespace velmora {

std::string AttachmentNameFor(const std::string& clientName) {
    std::string name;
    for (char c : ClientFileNameTail(clientName))
        if (!IsControlChar(c) && c != '<' && c != '>') name += c;
    return name.empty() ? "upload" : name;
}

TUploadAttachments RequestUploads() {
    TUploadAttachments result;
    THttpEngine* engine = CurrentEngine();
    if (!engine || !RequestState().UploadFiles) return result;
    std::unique_ptr<TStringList> names = engine->GetFormFieldNames();
    if (!names) return result;
    std::unordered_set<std::string> seen;  // a name posted again after others comes again in the list
    // The files this request made, looked up once per path: a post's cost stays linear in its parts.
    const TStringList& made = *RequestState().UploadFiles;
    const std::unordered_set<std::string> uploads(made.begin(), made.end());
    for (const std::string& field : *names) {
        if (!seen.insert(field).second) continue;
        std::vector<std::string> paths = UploadFieldLines(AdaptGetFormField(field + "_FILENAME", ""));
        std::vector<std::string> clientNames = UploadFieldLines(AdaptGetFormField(field, ""));
        bool any = false;
        for (size_t i = 0; i < paths.size(); ++i) {
            // The attachment line puts the path in angle brackets: one holding them cannot go there.
            if (!uploads.count(paths[i]) || paths[i].find_first_of("<>") != std::string::npos) continue;
            // Values pair up unless an empty file input of the same name left a name without a file.
            std::string client = clientNames.size() == paths.size() ? clientNames[i] : "";
            result.Lines.Add(AttachmentNameFor(client) + " <" + paths[i] + ">");
            any = true;
        }
        if (any) result.Fields.insert(result.Fields.end(), {field + "_FILENAME", field + "_CONTENT_TYPE"});
    }
    return result;
}

std::vector<std::string> UploadFieldLines(const std::string& value) {
    std::vector<std::string> out;
    for (size_t pos = 0;;) {
        size_t end = value.find("\r\n", pos);
        out.push_back(value.substr(pos, end == std::string::npos ? std::string::npos : end - pos));
        if (end == std::string::npos) return out;
        pos = end + 2;
    }
}

}  // namespace velmora
