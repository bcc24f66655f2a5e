// TCGIWinEngine's side of the request: variables from the profile's sections, the cookie, form
// fields from the multipart content file, the query string or the profile's form sections.
#include <algorithm>

#include "CgiWEng.h"
#include "FormData.h"
#include "ProfileFormFields.h"

namespace velmora {

namespace {

// The sections a variable is looked for in, in this order.
const char* const kVariableSections[] = {"CGI", "SYSTEM", "EXTRA HEADERS", "ACCEPT"};

// "CONTENT_TYPE" and "content type" both become the profile key "CONTENT TYPE".
std::string ProfileVariableKey(const std::string& name) {
    std::string key = UpperCase(name);
    std::replace(key.begin(), key.end(), '_', ' ');
    return key == "SCRIPT NAME" ? "EXECUTABLE PATH" : key;
}

}  // namespace

std::string TCGIWinEngine::GetVariable(const std::string& name) {
    const TCGIIniFile* profile = CGIWinRequestState().IniFile.get();
    if (!profile) return std::string();
    const std::string key = ProfileVariableKey(name);
    std::string value;
    for (const char* section : kVariableSections)
        if (profile->FindValue(section, key, value)) return value;
    return std::string();
}

std::string TCGIWinEngine::GetHttpCookie() {
    const TCGIIniFile* profile = CGIWinRequestState().IniFile.get();
    return profile ? profile->ReadString("EXTRA HEADERS", "COOKIE", NotAvailable) : NotAvailable;
}

// The form data of a request, by where it came from:
//   multipart body (content file)  -> the decoded body
//   method GET                     -> the query string
//   method POST                    -> the profile's form sections
//   any other method               -> the profile's form sections for fields, the query string for names
std::string TCGIWinEngine::GetFormField(const std::string& name, const std::string& def) {
    const TCGIWinRequestState& st = CGIWinRequestState();
    if (!st.MultipartFormData.empty()) return FindFormValueIndexed(name, st.MultipartFormData, def);
    if (GetRequestMethod() == "GET") return FindFormValue(name, GetQueryString(), def);
    return st.IniFile ? ProfileFormField(*st.IniFile, name, def) : def;
}

std::unique_ptr<TStringList> TCGIWinEngine::GetFormFieldNames() {
    const TCGIWinRequestState& st = CGIWinRequestState();
    if (!st.MultipartFormData.empty()) return ParseFormFieldNames(st.MultipartFormData);
    if (GetRequestMethod() == "POST" && st.IniFile) return st.IniFile->ProfileFieldNames();
    return ParseFormFieldNames(GetQueryString());
}

// The body is read only for a multipart post; every other body arrives decoded in the profile.
void TCGIWinEngine::ReadContentFile(TCGIWinRequestState& st) {
    const std::string contentFile = GetVariable("Content File");
    if (contentFile.empty() || !Contains(UpperCase(GetVariable("CONTENT_TYPE")), "MULTIPART/FORM-DATA;"))
        return;
    const std::string path = AddSystemDrive(contentFile);
    RequireRegularFile(path);
    st.ContentFile = std::make_unique<TFileStream>(path, fmOpenRead | fmShareDenyNone);
    ReadMultipartData(st.MultipartFormData);
}

int TCGIWinEngine::ReadClient(void* buffer, int count) {
    TStream* in = CGIWinRequestState().ContentFile.get();
    if (!in || count <= 0) return 0;
    return static_cast<int>(in->Read(buffer, count));
}

}  // namespace velmora
