// TFilterOutput: gathers what the template filter writes into few large AdaptWrite calls, while
// every write that could be the one starting the engine's automatic header still goes out alone.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "HtmlEscape.h"

namespace velmora {

// The engine starts its automatic header at the first write that begins with CR LF or, after
// blanks, with "<"; bytes written before that come before the header. So until a write of that
// kind has passed, each write goes to the adaptor exactly as the filter makes it. After it the
// header is out (or the engine makes none) and later writes are only gathered and sent together.
// The gathering string is per thread and empty whenever the filter calls out of itself (handlers),
// so a handler may filter another template on the same thread.
class TFilterOutput {
public:
    TFilterOutput();
    ~TFilterOutput();
    TFilterOutput(const TFilterOutput&) = delete;
    TFilterOutput& operator=(const TFilterOutput&) = delete;

    void Write(std::string_view s) {
        // Inline for the common case: one more stretch gathered after the header.
        if (FGathering && FBuffer.size() + s.size() < FlushSize) FBuffer.append(s);
        else WriteOut(s);
    }
    // Writes s with & < > " ' replaced as HtmlEscape does; s is request text, so the automatic
    // header goes out before it when nothing has started it yet.
    void WriteEscaped(std::string_view s) {
        // Inline for the common case: escaped straight into the gathering string in one pass.
        if (FGathering && FBuffer.size() + s.size() < FlushSize) {
            AppendHtmlEscaped(FBuffer, s);
            if (FBuffer.size() >= FlushSize) Flush();
        } else {
            WriteEscapedOut(s);
        }
    }
    // Hands everything gathered to the adaptor; also when AdaptWrite throws, nothing stays gathered.
    void Flush();

    // Gathered bytes are handed over once this many have come together.
    static constexpr size_t FlushSize = 16 * 1024;

private:
    void WriteOut(std::string_view s);
    void WriteEscapedOut(std::string_view s);
    // Called after appending a write that began at mark of the gathering string.
    void Settle(size_t mark);

    std::string& FBuffer;
    bool FGathering = false;  // a write that may start the header has passed
};

}  // namespace velmora
