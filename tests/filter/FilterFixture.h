// Shared setup of the filter tests: a fake request installed for the test, a file filter with a
// fixed clock, and helpers that filter a text (or a template file) and return the page.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "FakeAdaptor.h"
#include "FilterConditions.h"
#include "HttpFileFilter.h"
#include "System.h"

namespace velmora::test {

// A file filter whose clock stands still, so TIME, DATE and RANDOM_HIDDEN_INPUT are known.
class TFixedClockFilter : public THttpFileFilter {
public:
    explicit TFixedClockFilter(TComponent* owner = nullptr) : THttpFileFilter(owner) {}
    TDateTime Time = EncodeDateTime(2024, 3, 9, 1, 0, 5);

protected:
    TDateTime CurrentTime() const override { return Time; }
};

class FilterTest : public ::testing::Test {
protected:
    FilterTest() { Filter.SetName("RueckgabeHTML"); }

    // The page for text filtered as one block from the start state.
    std::string Page(const std::string& text) {
        Request.Output.clear();
        FilterConditions().Reset();
        Filter.FilterText(text);
        return Request.Output;
    }

    // The page for text read in 255-byte pieces, piecesPerRead at a time (by Filter unless given).
    // One piece a time cuts the text as often as possible; Execute reads many at a time.
    std::string StreamedPage(const std::string& text, THttpFileFilter* filter = nullptr, size_t piecesPerRead = 1);

    TFakeAdaptorTable Table;
    TFakeRequest Request;
    TFixedClockFilter Filter;
};

// Makes a condition handler that answers true exactly for the names in trueNames (comma list)
// and records every name it was asked about in asked.
THttpLogicalEntryEvent Conditions(const std::string& trueNames, std::string* asked = nullptr);

}  // namespace velmora::test
