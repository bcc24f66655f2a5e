// TGatheredStream: collects small writes in front of another stream and passes them on in one
// piece, so an answer written a header and a line at a time leaves the process in one write.
#pragma once

#include <memory>
#include <string>

#include "Streams.h"

namespace velmora {

// Bytes pass on when the stream is freed, before a seek or resize, and whenever holding them
// would go past limit; a write of limit or more goes straight through after what is held.
class TGatheredStream : public TStream {
public:
    explicit TGatheredStream(std::unique_ptr<TStream> target, size_t limit = 64 * 1024)
        : FTarget(std::move(target)), FLimit(limit) {}
    ~TGatheredStream() override { Flush(); }
    TGatheredStream(const TGatheredStream&) = delete;
    TGatheredStream& operator=(const TGatheredStream&) = delete;

    long Read(void* buffer, long count) override { return FTarget->Read(buffer, count); }
    long Write(const void* buffer, long count) override;
    int64_t Seek(int64_t offset, TSeekOrigin origin) override;
    void SetSize(int64_t size) override;
    // Passes on what is held; false when the target took less than all of it (the rest is
    // dropped: a reader that has gone away takes nothing more).
    bool Flush();

private:
    std::unique_ptr<TStream> FTarget;
    size_t FLimit;
    std::string FHeld;
};

}  // namespace velmora
