// Fuzz target for the template filter: any bytes as a template, handlers and adaptor answers chosen
// by the first byte. The page from FilterText must equal the page read in 255-byte pieces.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "FilterConditions.h"
#include "HAdaptor.h"
#include "HttpFileFilter.h"
#include "Streams.h"

using namespace velmora;

namespace {

std::string gPage;
uint8_t gFlags = 0;

unsigned Hash(const std::string& s) {
    unsigned h = 2166136261u;
    for (unsigned char c : s) h = (h ^ c) * 16777619u;
    return h;
}

void Write(const std::string& s) { gPage += s; }

std::string GetVariable(const std::string& name) {
    if (name == "A") return "<a href='x'>&\"";
    if (name == "M") return "#1NOT_AVAILABLE#1";
    if ((gFlags & 1) && !name.empty() && name[0] == 'V') return name;
    return {};
}

std::string GetFormField(const std::string& name, const std::string& def) {
    if (name == "F" || name == "M") return "field<>";
    if ((gFlags & 2) && Hash(name) % 3 == 0) return std::string();
    return def;
}

// A clock that stands still, so that both runs of one input write the same TIME and DATE.
class TStillFilter : public THttpFileFilter {
protected:
    TDateTime CurrentTime() const override { return 45000.5; }
};

struct TFixture {
    TFixture() {
        AdaptorTable().Write = Write;
        AdaptorTable().GetVariable = GetVariable;
        AdaptorTable().GetFormField = GetFormField;
        Filter.SetName("fuzz");
        Filter.OnHttpLogicalEntry = [](TObject*, const std::string& name, bool& value) {
            value = (gFlags & 4) ? (Hash(name) & 1) : name == "T";
        };
        Filter.OnHttpEntry = [](TObject*, const std::string& name, bool& handled) {
            handled = (gFlags & 8) && !name.empty() && name[0] == 'H';
            if (handled) gPage += "[" + name + "]";
        };
    }
    TStillFilter Filter;
};

std::string Run(THttpFileFilter& filter, const std::string& text, bool inPieces) {
    gPage.clear();
    FilterConditions().Reset();
    if (inPieces) {
        TMemoryStream stream;
        stream.WriteString(text);
        stream.SetPosition(0);
        // Reads of one piece cut the text most often; Execute reads 256 pieces at a time.
        const size_t piecesPerRead[] = {1, 2, 3, 256};
        filter.FilterStream(stream, piecesPerRead[(gFlags >> 5) & 3]);
    } else {
        filter.FilterText(text);
    }
    const TFilterConditions& state = FilterConditions();
    if (state.Level < 0 || state.Level > TFilterConditions::MaxLevel) std::abort();
    return gPage;
}

// Makes small inputs reach the search windows: each of the first eight 0x01 bytes becomes a
// 16000-byte stretch without delimiters.
std::string Stretch(const std::string& text) {
    std::string out;
    int stretches = 0;
    for (char c : text) {
        if (c == '\x01' && stretches < 8) {
            out.append(16000, 'b');
            ++stretches;
        } else {
            out += c;
        }
    }
    return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static TFixture fixture;
    if (size == 0) return 0;
    gFlags = data[0];
    std::string text(reinterpret_cast<const char*>(data) + 1, size - 1);
    if (gFlags & 16) text = Stretch(text);
    // A template file's leading UTF-8 byte-order mark is dropped; text handed over whole keeps it.
    const bool bom = text.rfind("\xEF\xBB\xBF", 0) == 0;
    std::string whole = Run(fixture.Filter, bom ? text.substr(3) : text, false);
    std::string pieces = Run(fixture.Filter, text, true);
    if (whole != pieces) std::abort();
    return 0;
}
