// A request stand-in for the template filter's tests: the adaptor table is pointed at a request
// whose server variables and form fields the test sets and whose output the test reads back.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "HAdaptor.h"

namespace velmora::test {

// The request the calling thread's adaptor routines talk to while it lives (per thread, as the
// engine's current request is); the previous one comes back when it ends.
class TFakeRequest {
public:
    TFakeRequest();
    ~TFakeRequest();
    TFakeRequest(const TFakeRequest&) = delete;
    TFakeRequest& operator=(const TFakeRequest&) = delete;

    // Server variables by the exact name the filter asks for.
    std::map<std::string, std::string> Variables;
    // Form fields; looked up upper-cased and trimmed, as the engines do.
    std::map<std::string, std::string> Fields;

    std::string Output;                       // everything written, in order
    std::vector<std::string> Writes;          // one element per AdaptWrite call
    std::vector<std::string> VariableLookups;  // names asked of AdaptGetVariable
    std::vector<std::string> FieldLookups;     // names asked of AdaptGetFormField

    static TFakeRequest* Current();

private:
    TFakeRequest* FPrevious;
};

// Installs the fake routines into the process-wide adaptor table and restores the old table on
// destruction. One per test, made on the test's main thread before any other thread runs.
class TFakeAdaptorTable {
public:
    TFakeAdaptorTable();
    ~TFakeAdaptorTable();
    TFakeAdaptorTable(const TFakeAdaptorTable&) = delete;
    TFakeAdaptorTable& operator=(const TFakeAdaptorTable&) = delete;

private:
    TAdaptorTable FSaved;
};

}  // namespace velmora::test
