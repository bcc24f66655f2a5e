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

// The Accept header as the server split it into the [Accept] section, one media range a key: a
// value of "Yes" stands for no parameters, any other value is the range's parameters ("q=0.5").
std::string AcceptFromSection(const TCGIIniFile& profile) {
    std::string accept;
    for (const auto& [range, parameters] : profile.SectionEntries("ACCEPT")) {
        if (!accept.empty()) accept += ", ";
        accept += UpperCase(parameters) == "YES" || parameters.empty() ? range : range + ";" + parameters;
    }
    return accept;
}

// A request header asked for by its CGI name (key "HTTP ORIGIN"): the server keeps such headers
// under their own names in [Extra Headers] ("ORIGIN", "ACCEPT-LANGUAGE"), and Accept in a
// section of its own. Without this, a program asking for HTTP_ORIGIN or HTTP_ACCEPT would see
// none here, though it does under every other engine.
std::string HeaderVariable(const TCGIIniFile& profile, const std::string& key) {
    if (key.rfind("HTTP ", 0) != 0) return std::string();
    std::string header = key.substr(5);
    std::replace(header.begin(), header.end(), ' ', '-');
    std::string value;
    if (profile.FindValue("EXTRA HEADERS", header, value)) return value;
    return header == "ACCEPT" ? AcceptFromSection(profile) : std::string();
}

}  // namespace

std::string TCGIWinEngine::GetVariable(const std::string& name) {
    const TCGIIniFile* profile = CGIWinRequestState().IniFile.get();
    if (!profile) return std::string();
    const std::string key = ProfileVariableKey(name);
    std::string value;
    for (const char* section : kVariableSections)
        if (profile->FindValue(section, key, value)) return value;
    return HeaderVariable(*profile, key);
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

// The body is read only for a multipart post; every other body arrives decoded in the profile, so
// the read limit bounds the content file alone: the profile's fields are served whatever the
// post's length.
void TCGIWinEngine::ReadContentFile(TCGIWinRequestState& st) {
    const std::string contentFile = GetVariable("Content File");
    if (contentFile.empty() || !Contains(UpperCase(GetVariable("CONTENT_TYPE")), "MULTIPART/FORM-DATA;"))
        return;
    if (GetContentLength() > ReadLimit()) {
        NoteBodyOverLimit();
        return;
    }
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
