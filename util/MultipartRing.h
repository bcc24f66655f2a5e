// The multipart decoder's window on the request body: one fixed ring of bytes read through
// AdaptReadClient, with the counters Start, Avail, Offset and Remaining. Owned by one decoding call.
#pragma once

#include <algorithm>
#include <cstdint>
#include <memory>
#include <string>

namespace velmora {

class TStream;

// Bytes are addressed by their offset from Start (0 <= offset < Avail); the ring index of offset
// k is (Start + k) mod Size. Memory stays at Size bytes whatever the body's length.
class TMultipartRing {
public:
    // size must be a power of two; bodyLength is the number of body bytes still to be read.
    TMultipartRing(int size, int64_t bodyLength);

    int Size() const noexcept { return FSize; }
    int Avail() const noexcept { return FAvail; }
    int64_t Remaining() const noexcept { return FRemaining; }
    bool Failed() const noexcept { return FFailed; }
    // True when no byte of the body is left to read (all read, the client stopped, or a failure).
    bool BodyDone() const noexcept { return FRemaining == 0 || FFailed; }

    // How far the scan has moved from Start.
    int Offset = 0;

    char At(int k) const noexcept { return FBuf[(FStart + k) & FMask]; }

    // For tight loops: the bytes from offset from on as one piece, count of them contiguous in
    // memory (up to offset to, or less where the ring wraps).
    const char* Contiguous(int from, int to, int& count) const noexcept {
        const int idx = (FStart + from) & FMask;
        count = std::min(to - from, FSize - idx);
        return FBuf.get() + idx;
    }

    // Reads body bytes into the free space until the ring is full or the body is used up. A read
    // of 0 bytes ends the body (the client sent less than announced, or is gone); a negative one
    // marks the body as failed. Either way nothing more is read afterwards.
    void Fill();

    // Drops the first n available bytes: Start moves on, Avail and Offset shrink by n (Offset not
    // below 0).
    void Consume(int n) noexcept;

    // Turns the ring so that Start is its index 0 (the bytes keep their offsets).
    void MoveToFront() noexcept;

    // Offset of the first byte equal to c in [from, to), or to.
    int Find(char c, int from, int to) const noexcept;

    // The n bytes from offset from: appended to out, or written to stream (EWriteError when the
    // stream takes fewer).
    void CopyTo(int from, int n, std::string& out) const;
    void WriteTo(int from, int n, TStream& stream) const;

private:
    int ReadPiece(char* dest, int want);

    int FSize;
    int FMask;
    std::unique_ptr<char[]> FBuf;
    int FStart = 0;
    int FAvail = 0;
    int64_t FRemaining;
    bool FFailed = false;
};

}  // namespace velmora
