// The fake adaptor routines: each finds the calling thread's TFakeRequest, records what was asked
// or written, and answers from the request's maps. Without a request, writes vanish.
#include "FakeAdaptor.h"

#include "SysUtils.h"

namespace velmora::test {

namespace {

thread_local TFakeRequest* gCurrent = nullptr;

void FakeWrite(const std::string& s) {
    if (TFakeRequest* r = gCurrent) {
        r->Output += s;
        r->Writes.push_back(s);
    }
}

std::string FakeGetVariable(const std::string& name) {
    TFakeRequest* r = gCurrent;
    if (!r) return {};
    r->VariableLookups.push_back(name);
    auto it = r->Variables.find(name);
    return it == r->Variables.end() ? std::string() : it->second;
}

// Field names match upper-cased and trimmed.
bool SameFieldName(const std::string& a, const std::string& b) {
    std::string x = Trim(a), y = Trim(b);
    if (x.size() != y.size()) return false;
    for (size_t k = 0; k < x.size(); ++k)
        if (UpCaseChar(x[k]) != UpCaseChar(y[k])) return false;
    return true;
}

std::string FakeGetFormField(const std::string& name, const std::string& def) {
    TFakeRequest* r = gCurrent;
    if (!r) return def;
    r->FieldLookups.push_back(name);
    for (const auto& [field, value] : r->Fields)
        if (SameFieldName(field, name)) return value;
    return def;
}

}  // namespace

TFakeRequest::TFakeRequest() : FPrevious(gCurrent) { gCurrent = this; }
TFakeRequest::~TFakeRequest() { gCurrent = FPrevious; }
TFakeRequest* TFakeRequest::Current() { return gCurrent; }

TFakeAdaptorTable::TFakeAdaptorTable() : FSaved(AdaptorTable()) {
    TAdaptorTable& t = AdaptorTable();
    t = TAdaptorTable{};
    t.Write = FakeWrite;
    t.WriteLn = [](const std::string& s) { FakeWrite(s + "\r\n"); };
    t.GetVariable = FakeGetVariable;
    t.GetFormField = FakeGetFormField;
    // Seen in Writes only: the header it starts is the engine's, not page text.
    t.StartHeader = [] {
        if (TFakeRequest* r = gCurrent) r->Writes.push_back("[header]");
    };
}

TFakeAdaptorTable::~TFakeAdaptorTable() { AdaptorTable() = FSaved; }

}  // namespace velmora::test
