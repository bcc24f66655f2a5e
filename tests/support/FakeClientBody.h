// FakeClientBody: a request body for code that reads through the adaptor table (AdaptReadClient
// and CONTENT_LENGTH from AdaptGetVariable), handed out in chosen chunk sizes, with failure modes.
#pragma once

#include <algorithm>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "HAdaptor.h"

namespace velmora::test {

// Installs itself into the adaptor table for its lifetime and restores the previous slots after.
// One at a time per process (tests run one after another within a test program).
class FakeClientBody {
public:
    explicit FakeClientBody(std::string body)
        : Body(std::move(body)), ContentLength(std::to_string(Body.size())), FSaved(AdaptorTable()) {
        Current() = this;
        AdaptorTable().ReadClient = &Read;
        AdaptorTable().GetVariable = &Variable;
    }
    ~FakeClientBody() {
        AdaptorTable() = FSaved;
        Current() = nullptr;
    }
    FakeClientBody(const FakeClientBody&) = delete;
    FakeClientBody& operator=(const FakeClientBody&) = delete;

    std::string Body;
    std::string ContentLength;  // the CONTENT_LENGTH variable; the body's size unless changed
    std::vector<int> Chunks;    // most bytes per read, used in turn and the last one repeated
    long FailAt = -1;           // a read at or beyond this body position returns -1

    size_t Position = 0;        // body bytes handed out so far
    int Reads = 0;              // calls of AdaptReadClient
    int ZeroReads = 0;          // calls that returned 0

private:
    static FakeClientBody*& Current() {
        static FakeClientBody* current = nullptr;
        return current;
    }

    static int Read(void* buffer, int count) {
        FakeClientBody& b = *Current();
        ++b.Reads;
        if (b.FailAt >= 0 && static_cast<long>(b.Position) >= b.FailAt) return -1;
        size_t n = std::min(static_cast<size_t>(count), b.Body.size() - b.Position);
        if (!b.Chunks.empty()) {
            size_t i = std::min(static_cast<size_t>(b.Reads - 1), b.Chunks.size() - 1);
            n = std::min(n, static_cast<size_t>(b.Chunks[i]));
        }
        if (b.FailAt >= 0) n = std::min(n, static_cast<size_t>(b.FailAt) - b.Position);
        std::memcpy(buffer, b.Body.data() + b.Position, n);
        b.Position += n;
        if (n == 0) ++b.ZeroReads;
        return static_cast<int>(n);
    }

    static std::string Variable(const std::string& name) {
        return name == "CONTENT_LENGTH" ? Current()->ContentLength : std::string();
    }

    TAdaptorTable FSaved;
};

}  // namespace velmora::test
