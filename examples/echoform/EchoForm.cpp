// Example CGI program built on the framework: a form with a TGeneralHttpEngine that answers every
// request with its form fields, its uploaded files and a few server variables.
//
// How a framework program is put together:
//   1. main() calls StartFrameworkUnits first, before any form exists: under a web server this
//      opens the request's standard input and output.
//   2. The main form creates its components and sets their values in its constructor (what a form
//      designer would store); Application().CreateForm then calls Loaded on each of them.
//   3. TGeneralHttpEngine::Loaded looks at the environment; under a web server it creates the
//      standard CGI engine, which runs the request at once: it reads the form data and raises
//      OnExecRequest, whose handler writes the answer page. With CgiAutoTerminate on (the default)
//      the process ends when the request is done. Past CreateForm, the message loop runs only when
//      an engine waits for work (one serving with CgiAutoTerminate off); otherwise, for instance
//      when no web server started the program, there is nothing to serve and the program ends.
//   4. Started by a profile-file server (the profile's path as the only parameter), the component
//      creates the profile-file engine instead; the same handler answers, and the page goes into
//      the output file the profile names.
//
// Try it under any web server with CGI: a GET shows a small form to post; a POST (url-encoded or
// multipart with a file) echoes what arrived. The engine writes the HTTP header by itself before
// the first "<" of the page.
#include <string>

#include "Forms.h"
#include "GenEng.h"
#include "Streams.h"
#include "UnitStartup.h"

using namespace velmora;

namespace {

// Form values are the visitor's text: escape them before they go into the page.
std::string Html(const std::string& s) {
    std::string out;
    for (char c : s) {
        switch (c) {
            case '<': out += "&lt;"; break;
            case '>': out += "&gt;"; break;
            case '&': out += "&amp;"; break;
            case '"': out += "&quot;"; break;
            default: out += c;
        }
    }
    return out;
}

bool EndsWith(const std::string& s, const std::string& tail) {
    return s.size() >= tail.size() && s.compare(s.size() - tail.size(), tail.size(), tail) == 0;
}

std::string Row(const std::string& name, const std::string& value) {
    return "<tr><td>" + Html(name) + "</td><td>" + Html(value) + "</td></tr>\r\n";
}

}  // namespace

class TEchoForm : public TForm {
public:
    explicit TEchoForm(TComponent* owner) : TForm(owner) {
        SetCaption("Echo form");
        // The engine component with this program's settings; everything not set keeps its default
        // (answers as text/html, bodies up to 10000 bytes, upload files beside the program).
        HTTP = new TGeneralHttpEngine(this);
        HTTP->SetName("HTTP");
        HTTP->SetSessionName("Echo");
        HTTP->SetOnExecRequest([this](TObject*) { HTTPExecRequest(); });
    }

    TGeneralHttpEngine* HTTP;

private:
    // Runs once per request, on the thread that serves it. Everything goes through the engine
    // component, which reaches the engine serving this request.
    void HTTPExecRequest() {
        HTTP->Write("<html><head><title>Echo form</title></head><body>\r\n<h1>Echo form</h1>\r\n");
        std::unique_ptr<TStringList> names = HTTP->GetFormFieldNames();
        if (names->Count() == 0) WriteEmptyForm();
        WriteFields(*names);
        WriteUploads(*names);
        WriteServer();
        HTTP->Write("</body></html>\r\n");
    }

    void WriteEmptyForm() {
        HTTP->Write("<form method=\"post\" enctype=\"multipart/form-data\" action=\"" +
                    Html(HTTP->GetScriptName()) + "\">\r\n"
                    "<input name=\"text\"> <input type=\"file\" name=\"file\"> "
                    "<input type=\"submit\"></form>\r\n");
    }

    // Plain fields. For an uploaded file named N the engine adds N_FILENAME (where the upload is
    // stored for the time of the request) and N_CONTENT_TYPE; those are shown with the uploads.
    void WriteFields(const TStringList& names) {
        HTTP->Write("<h2>Form fields</h2>\r\n<table>\r\n");
        for (const std::string& name : names) {
            if (EndsWith(name, "_FILENAME") || IsUploadType(name, names)) continue;
            if (names.IndexOf(name + "_FILENAME") >= 0) continue;
            HTTP->Write(Row(name, HTTP->GetFormField(name, "")));
        }
        HTTP->Write("</table>\r\n");
    }

    static bool IsUploadType(const std::string& name, const TStringList& names) {
        const std::string tail = "_CONTENT_TYPE";
        return EndsWith(name, tail) &&
               names.IndexOf(name.substr(0, name.size() - tail.size()) + "_FILENAME") >= 0;
    }

    // The upload files exist until the request ends; the engine deletes them afterwards.
    void WriteUploads(const TStringList& names) {
        HTTP->Write("<h2>Upload fields</h2>\r\n<table>\r\n");
        for (const std::string& name : names) {
            if (!EndsWith(name, "_FILENAME")) continue;
            const std::string field = name.substr(0, name.size() - 9);
            TMemoryStream content;
            content.LoadFromFile(HTTP->GetFormField(name, ""));
            HTTP->Write(Row(field, HTTP->GetFormField(field, "")));
            HTTP->Write(Row(field + " type", HTTP->GetFormField(field + "_CONTENT_TYPE", "")));
            HTTP->Write(Row(field + " size", std::to_string(content.Bytes().size())));
            HTTP->Write(Row(field + " starts", content.Bytes().substr(0, 64)));
        }
        HTTP->Write("</table>\r\n");
    }

    void WriteServer() {
        HTTP->Write("<h2>Server</h2>\r\n<table>\r\n");
        HTTP->Write(Row("SERVER_SOFTWARE", HTTP->GetServerSoftware()));
        HTTP->Write(Row("REQUEST_METHOD", HTTP->GetRequestMethod()));
        HTTP->Write(Row("QUERY_STRING", HTTP->GetQueryString()));
        HTTP->Write(Row("CONTENT_TYPE", HTTP->GetContentType()));
        HTTP->Write(Row("CONTENT_LENGTH", std::to_string(HTTP->GetContentLength())));
        HTTP->Write(Row("SCRIPT_NAME", HTTP->GetScriptName()));
        HTTP->Write(Row("REMOTE_ADDR", HTTP->GetRemoteAddr()));
        HTTP->Write("</table>\r\n");
    }
};

int main(int argc, char** argv) {
    StartFrameworkUnits(argc, argv);
    Application().CreateForm<TEchoForm>();
    if (CurrentEngine()) Application().Run();
    return 0;
}
