// Helpers of the filter test fixture.
// Streams read the text through a memory stream so that no file is needed for piece tests.
#include "FilterFixture.h"

#include "Streams.h"

namespace velmora::test {

std::string FilterTest::StreamedPage(const std::string& text, THttpFileFilter* filter, size_t piecesPerRead) {
    Request.Output.clear();
    FilterConditions().Reset();
    TMemoryStream stream;
    stream.WriteString(text);
    stream.SetPosition(0);
    (filter ? *filter : Filter).FilterStream(stream, piecesPerRead);
    return Request.Output;
}

THttpLogicalEntryEvent Conditions(const std::string& trueNames, std::string* asked) {
    return [trueNames, asked](TObject*, const std::string& name, bool& value) {
        if (asked) *asked += (asked->empty() ? "" : ",") + name;
        value = ("," + trueNames + ",").find("," + name + ",") != std::string::npos;
    };
}

}  // namespace velmora::test
