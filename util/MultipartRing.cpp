// The ring buffer of the multipart decoder: reading the body in, dropping consumed bytes, and
// handing out byte ranges in at most two contiguous pieces (up to the ring's end, then from 0).
#include "MultipartRing.h"

#include <algorithm>
#include <cstring>

#include "HAdaptor.h"
#include "Streams.h"

namespace velmora {

TMultipartRing::TMultipartRing(int size, int64_t bodyLength)
    : FSize(size), FMask(size - 1), FBuf(new char[static_cast<size_t>(size)]),
      FRemaining(bodyLength > 0 ? bodyLength : 0) {}

void TMultipartRing::Fill() {
    if (FFailed) return;
    while (FRemaining > 0 && FAvail < FSize) {
        int idx = (FStart + FAvail) & FMask;
        int want = static_cast<int>(std::min<int64_t>({FRemaining, FSize - FAvail, FSize - idx}));
        int got = ReadPiece(FBuf.get() + idx, want);
        FAvail += got;
        FRemaining -= got;
        if (got < want) {  // the body ended early or failed: nothing more will come
            FRemaining = 0;
            return;
        }
    }
}

// Asks for want bytes again and again until all have come; returns how many did.
int TMultipartRing::ReadPiece(char* dest, int want) {
    int done = 0;
    while (done < want) {
        int n = AdaptReadClient(dest + done, want - done);
        if (n < 0) {
            FFailed = true;
            break;
        }
        if (n == 0) break;
        done += std::min(n, want - done);  // a reader claiming more than asked gave at most that
    }
    return done;
}

void TMultipartRing::Consume(int n) noexcept {
    FStart = (FStart + n) & FMask;
    FAvail -= n;
    Offset = Offset > n ? Offset - n : 0;
}

void TMultipartRing::MoveToFront() noexcept {
    std::rotate(FBuf.get(), FBuf.get() + FStart, FBuf.get() + FSize);
    FStart = 0;
}

int TMultipartRing::Find(char c, int from, int to) const noexcept {
    while (from < to) {
        int idx = (FStart + from) & FMask;
        int len = std::min(to - from, FSize - idx);
        const char* base = FBuf.get() + idx;
        if (const void* p = std::memchr(base, c, static_cast<size_t>(len)))
            return from + static_cast<int>(static_cast<const char*>(p) - base);
        from += len;
    }
    return to;
}

void TMultipartRing::CopyTo(int from, int n, std::string& out) const {
    while (n > 0) {
        int idx = (FStart + from) & FMask;
        int len = std::min(n, FSize - idx);
        out.append(FBuf.get() + idx, static_cast<size_t>(len));
        from += len;
        n -= len;
    }
}

void TMultipartRing::WriteTo(int from, int n, TStream& stream) const {
    while (n > 0) {
        int idx = (FStart + from) & FMask;
        int len = std::min(n, FSize - idx);
        stream.WriteBuffer(FBuf.get() + idx, len);
        from += len;
        n -= len;
    }
}

}  // namespace velmora
