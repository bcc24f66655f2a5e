// A small program on the framework, built as a library for an NSAPI server: its main form is made
// on the first request, and each request answers with what the engine saw of it, in lines.
#include <cstdlib>

#include "Files.h"
#include "Forms.h"
#include "GenEng.h"
#include "LibraryStart.h"
#include "RequestTable.h"
#include "Streams.h"
#include "System.h"

using namespace velmora;

namespace {

class TNsapiTestForm : public TForm {
public:
    explicit TNsapiTestForm(TComponent* owner) : TForm(owner) {
        // In a library the component makes the NSAPI engine with these settings.
        HTTP = new TGeneralHttpEngine(this);
        HTTP->SetAutoReadLimit(300);
        HTTP->SetBufferedOutput(std::getenv("NSTEST_BUFFERED") != nullptr);
        HTTP->SetOnFirstExecRequest([this](TObject*) { FLock = HTTP->CreateLock(); });
        HTTP->SetOnExecRequest([this](TObject*) { Answer(); });
    }

private:
    void Line(const std::string& name, const std::string& value) { HTTP->Write(name + "=" + value + "\n"); }

    // A row of the shared request table: the engine's answers to its questions, each written as
    // its length and its bytes (values may hold line breaks), after a mark.
    void AnswerTableRow(size_t row) {
        const test::TTableAnswer a = test::AskEngine(*CurrentEngine(), test::RequestTable().at(row));
        auto put = [this](const std::string& item) { HTTP->Write(std::to_string(item.size()) + ":" + item); };
        HTTP->Write("<row>");  // markup first: the engine sends its automatic header before it
        for (const auto& value : a.Values) put(value.second);
        put(std::to_string(a.Names.size()));
        for (const std::string& name : a.Names) put(name);
        put(a.UploadContent);
    }

    void Answer() {
        const std::string script = HTTP->GetScriptName();
        if (script.rfind("/table/", 0) == 0) return AnswerTableRow(std::stoul(script.substr(7)));
        if (HTTP->GetQueryString() == "status") SetRequestStatus("413 Payload Too Large");
        HTTP->WriteHeader("x-twice", "first");
        HTTP->WriteHeader("x-twice", "second");
        HTTP->EnterLock(FLock);
        const long count = ++FCount;
        HTTP->LeaveLock(FLock);
        HTTP->Write("<pre>\n");
        Line("method", HTTP->GetRequestMethod());
        Line("protocol", HTTP->GetServerProtocol());
        Line("script", HTTP->GetScriptName());
        Line("scriptvar", HTTP->GetVariable("SCRIPT NAME"));
        Line("query", HTTP->GetQueryString());
        Line("remote", HTTP->GetRemoteAddr() + " " + HTTP->GetRemoteHost());
        Line("agent", HTTP->GetUserAgent());
        Line("length", std::to_string(HTTP->GetContentLength()));
        Line("path", HTTP->GetVariable("path"));
        Line("fn", HTTP->GetVariable("fn"));
        Line("count", std::to_string(count));
        std::unique_ptr<TStringList> names = HTTP->GetFormFieldNames();
        for (const std::string& name : *names) {
            std::string value = HTTP->GetFormField(name, "");
            // An upload is shown by its size: the file exists until the request ends.
            if (name.size() > 9 && name.compare(name.size() - 9, 9, "_FILENAME") == 0) {
                TMemoryStream content;
                content.LoadFromFile(value);
                value = std::to_string(content.Bytes().size());
            }
            Line("field " + name, value);
        }
        HTTP->Write("</pre>\n");
    }

    TGeneralHttpEngine* HTTP;
    TLockHandle FLock = nullptr;
    long FCount = 0;
};

// The first service call makes the form; it and its engines live until the process ends.
__attribute__((constructor)) void LoadModule() {
    SetRunsAsLibrary(true);
    SetLibraryMain([] { Application().CreateForm<TNsapiTestForm>(); });
}

}  // namespace
