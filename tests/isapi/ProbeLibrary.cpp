// A small program on the framework, built as a server library for the ISAPI tests: it answers
// with what it was given, redirects, fails on request, and serves as a filter, which velmora does not.
#include <stdexcept>

#include "Forms.h"
#include "GenEng.h"
#include "HAdaptor.h"
#include "IsapiTypes.h"
#include "LibraryStart.h"
#include "System.h"

namespace {

using namespace velmora;

class TProbeForm : public TForm {
public:
    explicit TProbeForm(TComponent* owner) : TForm(owner) {
        HTTP = new TGeneralHttpEngine(this);
        HTTP->SetOnExecRequest([this](TObject*) { Serve(); });
        HTTP->OnIsapiFilterVersion = [](uint32_t&, uint32_t&, std::string& desc, uint32_t& flags, bool&) {
            desc = "probe filter";
            flags = SF_NOTIFY_READ_RAW_DATA | SF_NOTIFY_PREPROC_HEADERS | SF_NOTIFY_SEND_RAW_DATA;
        };
        HTTP->OnIsapiFilterProc = [this](THTTP_FILTER_CONTEXT&, uint32_t type, void*, uint32_t&) {
            if (type == SF_NOTIFY_READ_RAW_DATA) AdaptWrite("form[" + FormText() + "]");
            if (type == SF_NOTIFY_PREPROC_HEADERS) AdaptWrite("cookie[" + HTTP->GetHttpCookie() + "]");
            if (type == SF_NOTIFY_SEND_RAW_DATA) AdaptWrite("never seen");
        };
    }

private:
    // Every posted field as name=value, in order.
    std::string FormText() {
        std::string text;
        std::unique_ptr<TStringList> names = HTTP->GetFormFieldNames();
        for (const std::string& name : *names)
            text += (text.empty() ? "" : ";") + name + "=" + HTTP->GetFormField(name, "");
        return text;
    }

    void Serve() {
        std::string what = HTTP->GetFormField("do", "");
        if (what == "fail") throw std::runtime_error(HTTP->GetFormField("msg", ""));
        if (what == "redirect") {
            HTTP->WriteHeader("Location", HTTP->GetFormField("url", ""));
            return;
        }
        AdaptWrite("<p>" + FormText() + "</p>");
    }

    TGeneralHttpEngine* HTTP;
};

void StartProbe() { Application().CreateForm<TProbeForm>(); }

__attribute__((constructor)) void ProbeLoaded() {
    SetRunsAsLibrary(true);
    SetLibraryMain(&StartProbe);
}

}  // namespace
