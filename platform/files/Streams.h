// Byte streams: abstract TStream, in-memory TMemoryStream, THandleStream on a descriptor, TFileStream.
// TFileStream's share modes: an exclusive open holds a non-blocking flock and fails while anyone else does.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

namespace velmora {

enum TSeekOrigin { soBeginning = 0, soCurrent = 1, soEnd = 2 };

class TStream {
public:
    virtual ~TStream() = default;
    // Both return the number of bytes moved; 0 at the end, never negative.
    virtual long Read(void* buffer, long count) = 0;
    virtual long Write(const void* buffer, long count) = 0;
    virtual int64_t Seek(int64_t offset, TSeekOrigin origin) = 0;
    virtual void SetSize(int64_t size) = 0;

    int64_t Position() { return Seek(0, soCurrent); }
    void SetPosition(int64_t pos) { Seek(pos, soBeginning); }
    int64_t Size();
    // As Read and Write, but EReadError / EWriteError unless all count bytes moved.
    void ReadBuffer(void* buffer, long count);
    void WriteBuffer(const void* buffer, long count);
    void WriteString(const std::string& s) { WriteBuffer(s.data(), static_cast<long>(s.size())); }
    // Copies count bytes from source (all of it from its start when count is 0).
    int64_t CopyFrom(TStream& source, int64_t count);
};

// Owns a growable block of bytes. Memory() stays valid until the next write or SetSize.
class TMemoryStream : public TStream {
public:
    long Read(void* buffer, long count) override;
    long Write(const void* buffer, long count) override;
    int64_t Seek(int64_t offset, TSeekOrigin origin) override;
    void SetSize(int64_t size) override;

    char* Memory() noexcept { return FData.data(); }
    const char* Memory() const noexcept { return FData.data(); }
    const std::string& Bytes() const noexcept { return FData; }
    void Clear() noexcept { FData.clear(); FPos = 0; }
    void LoadFromFile(const std::string& path);
    void SaveToFile(const std::string& path) const;

private:
    std::string FData;
    int64_t FPos = 0;
};

// Open modes: one access mode or'ed with one share mode, or fmCreate alone.
enum : unsigned {
    fmOpenRead = 0x0000,
    fmOpenWrite = 0x0001,
    fmOpenReadWrite = 0x0002,
    fmShareCompat = 0x0000,
    fmShareExclusive = 0x0010,
    fmShareDenyWrite = 0x0020,
    fmShareDenyRead = 0x0030,
    fmShareDenyNone = 0x0040,
    fmCreate = 0xFF00,  // create or truncate, read and write; may be or'ed with fmShareExclusive
};

// A stream on an open descriptor. Read and Write move all count bytes unless the descriptor ends
// or fails (an interrupted call is repeated), so a short count means end of input or an error.
// With ownsHandle the descriptor is closed with the stream (or by Close).
class THandleStream : public TStream {
public:
    explicit THandleStream(int handle, bool ownsHandle = false) : FHandle(handle), FOwnsHandle(ownsHandle) {}
    ~THandleStream() override;
    THandleStream(const THandleStream&) = delete;
    THandleStream& operator=(const THandleStream&) = delete;

    long Read(void* buffer, long count) override;
    long Write(const void* buffer, long count) override;
    int64_t Seek(int64_t offset, TSeekOrigin origin) override;
    void SetSize(int64_t size) override;

    int Handle() const noexcept { return FHandle; }
    // Closes an owned descriptor now; false when the system reported an error. Later reads and
    // writes move nothing.
    bool Close() noexcept;

protected:
    THandleStream() = default;
    // Name used in error messages.
    virtual std::string HandleName() const { return "handle " + std::to_string(FHandle); }

    int FHandle = -1;
    bool FOwnsHandle = false;
};

class TFileStream : public THandleStream {
public:
    // EFCreateError / EFOpenError when the file cannot be created or opened, or when an exclusive
    // open finds the file locked by another descriptor (of this or another process).
    TFileStream(const std::string& path, unsigned mode);
    // A file made new for reading and writing: nothing of that name may exist, not even a
    // symbolic link, so a planted link is never followed and no one else's file is reused.
    // Null when the name is taken; EFCreateError for any other failure.
    static std::unique_ptr<TFileStream> CreateNew(const std::string& path);

    const std::string& FileName() const noexcept { return FFileName; }

protected:
    std::string HandleName() const override { return "\"" + FFileName + "\""; }

private:
    TFileStream(int handle, const std::string& path);

    std::string FFileName;
};

}  // namespace velmora
