// One table of requests that every engine's tests run, each engine putting a row into its own
// server's form (environment and body, profile file, ...): the engines must answer them alike.
// To plug an engine in: turn a row into that engine's request, run it with AskEngine as the
// handler, and check the answer with ExpectTableAnswer.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "FormData.h"
#include "HttpEng.h"

namespace velmora::test {

using TFieldList = std::vector<std::pair<std::string, std::string>>;

struct TTableRequest {
    std::string Name;
    std::string Method;     // "GET" or "POST"
    std::string Query;      // the query string, url-encoded
    TFieldList Posted;      // the posted fields in order, decoded (a name may repeat)
    std::string Upload;     // when not empty: the post is multipart, with this as the file "att"
    TFieldList Want;        // field name as asked -> value the engine must give ("(none)": absent)
    std::vector<std::string> WantNames;  // the field names, upper-cased and sorted
};

inline const std::vector<TTableRequest>& RequestTable() {
    static const std::vector<TTableRequest> rows = {
        {"post with a repeated field and a multi-line value", "POST", "q=from+query",
         {{"Name", "Ada Lo"}, {"Pick", "a"}, {"Pick", "b"}, {"Note", "x&y=z %41"},
          {"Text", "line one\r\nline two"}},
         "",
         {{"name", "Ada Lo"}, {"PICK", "a\r\nb"}, {"Note", "x&y=z %41"}, {"Text", "line one\r\nline two"},
          {"q", "(none)"}, {"Missing", "(none)"}},
         {"NAME", "NOTE", "PICK", "TEXT"}},
        {"get with a query string", "GET", "q=from+query&n=1&n=2&e=", {}, "",
         {{"Q", "from query"}, {"n", "1\r\n2"}, {"e", ""}, {"Missing", "(none)"}},
         {"E", "N", "Q"}},
        {"multipart post with an upload", "POST", "", {{"text", "1+1=2, ok"}}, "hello\r\nupload",
         // The type is the part header's text after its colon, blank included.
         {{"text", "1+1=2, ok"}, {"att", "note.txt"}, {"att_content_type", " text/plain"}},
         {"ATT", "ATT_CONTENT_TYPE", "ATT_FILENAME", "TEXT"}},
    };
    return rows;
}

// The multipart body of a row with an upload.
inline std::string MultipartBody(const TTableRequest& r, const std::string& boundary) {
    std::string body;
    for (const auto& [name, value] : r.Posted)
        body += "--" + boundary + "\r\nContent-Disposition: form-data; name=\"" + name + "\"\r\n\r\n" + value + "\r\n";
    body += "--" + boundary + "\r\nContent-Disposition: form-data; name=\"att\"; filename=\"note.txt\"\r\n"
            "Content-Type: text/plain\r\n\r\n" + r.Upload + "\r\n--" + boundary + "--\r\n";
    return body;
}

// The url-encoded body of a row without an upload.
inline std::string UrlEncodedBody(const TTableRequest& r) {
    std::string body;
    for (const auto& [name, value] : r.Posted) body += (body.empty() ? "" : "&") + URLEncode(name) + "=" + URLEncode(value);
    return body;
}

struct TTableAnswer {
    TFieldList Values;
    std::vector<std::string> Names;
    std::string UploadContent;
};

// What the engine answers to a row's questions; run it inside the request's OnExecRequest.
inline TTableAnswer AskEngine(THttpEngine& e, const TTableRequest& r) {
    TTableAnswer a;
    for (const auto& want : r.Want) a.Values.emplace_back(want.first, e.GetFormField(want.first, "(none)"));
    const std::unique_ptr<TStringList> names = e.GetFormFieldNames();
    for (const std::string& n : *names) a.Names.push_back(UpperCase(n));
    std::sort(a.Names.begin(), a.Names.end());
    if (!r.Upload.empty()) {
        std::ifstream f(e.GetFormField("att_FILENAME", ""), std::ios::binary);
        std::stringstream s;
        s << f.rdbuf();
        a.UploadContent = s.str();
    }
    return a;
}

inline void ExpectTableAnswer(const TTableRequest& r, const TTableAnswer& a) {
    EXPECT_EQ(a.Values, r.Want) << r.Name;
    EXPECT_EQ(a.Names, r.WantNames) << r.Name;
    EXPECT_EQ(a.UploadContent, r.Upload) << r.Name;
}

}  // namespace velmora::test
