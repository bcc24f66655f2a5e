// The template filter's gathered output: writes are copied into one string per thread and handed
// to AdaptWrite in large pieces once the write that may start the engine's header has passed.
#include "FilterOutput.h"

#include "HAdaptor.h"

namespace velmora {

namespace {

std::string& GatheringString() {
    thread_local std::string buffer;
    return buffer;
}

// The engine's test for the write that starts its automatic header.
bool MayStartHeader(std::string_view s) noexcept {
    if (s.substr(0, 2) == "\r\n") return true;
    size_t k = 0;
    while (k < s.size() && static_cast<unsigned char>(s[k]) <= 0x20) ++k;
    return k < s.size() && s[k] == '<';
}

// Hands s to the adaptor and empties it, also when AdaptWrite throws.
void WriteAndClear(std::string& s) {
    struct TClear {
        std::string& s;
        ~TClear() { s.clear(); }
    } clear{s};
    AdaptWrite(s);
}

}  // namespace

TFilterOutput::TFilterOutput() : FBuffer(GatheringString()) { FBuffer.reserve(FlushSize + 1024); }

// After an exception the gathered rest belongs to a page that is abandoned anyway.
TFilterOutput::~TFilterOutput() { FBuffer.clear(); }

void TFilterOutput::WriteOut(std::string_view s) {
    size_t mark = FBuffer.size();
    FBuffer.append(s);
    Settle(mark);
}

void TFilterOutput::WriteEscapedOut(std::string_view s) {
    if (!FGathering) {
        // Text from the request is never header text: a posted value with CR LF and "Location:"
        // would otherwise become the answer's header lines. The header goes out before it.
        AdaptStartHeader();
        FGathering = true;
    }
    size_t mark = FBuffer.size();
    AppendHtmlEscaped(FBuffer, s);
    Settle(mark);
}

void TFilterOutput::Settle(size_t mark) {
    if (!FGathering) {
        // Nothing is gathered yet (mark is 0): this write goes out on its own, as made, unless it
        // is the one that may start the header, which then opens the gathering.
        FGathering = MayStartHeader(std::string_view(FBuffer).substr(mark));
        if (!FGathering) WriteAndClear(FBuffer);
        return;
    }
    if (FBuffer.size() >= FlushSize) Flush();
}

void TFilterOutput::Flush() {
    if (!FBuffer.empty()) WriteAndClear(FBuffer);
}

}  // namespace velmora
