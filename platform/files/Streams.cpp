// TStream helpers and TMemoryStream: in-memory bytes with a read/write position.
// The file-backed stream lives in FileStream.cpp with the rest of the POSIX file calls.
#include "Streams.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "SysUtils.h"

namespace velmora {

int64_t TStream::Size() {
    int64_t pos = Seek(0, soCurrent);
    int64_t size = Seek(0, soEnd);
    Seek(pos, soBeginning);
    return size;
}

void TStream::ReadBuffer(void* buffer, long count) {
    if (count > 0 && Read(buffer, count) != count) throw EReadError("Stream read error");
}

void TStream::WriteBuffer(const void* buffer, long count) {
    if (count > 0 && Write(buffer, count) != count) throw EWriteError("Stream write error");
}

int64_t TStream::CopyFrom(TStream& source, int64_t count) {
    if (count == 0) {
        source.SetPosition(0);
        count = source.Size();
    }
    std::vector<char> buf(65536);
    int64_t done = 0;
    while (done < count) {
        long n = static_cast<long>(std::min<int64_t>(count - done, static_cast<int64_t>(buf.size())));
        source.ReadBuffer(buf.data(), n);
        WriteBuffer(buf.data(), n);
        done += n;
    }
    return done;
}

long TMemoryStream::Read(void* buffer, long count) {
    if (count <= 0 || FPos >= static_cast<int64_t>(FData.size())) return 0;
    long n = static_cast<long>(std::min<int64_t>(count, static_cast<int64_t>(FData.size()) - FPos));
    std::memcpy(buffer, FData.data() + FPos, static_cast<size_t>(n));
    FPos += n;
    return n;
}

long TMemoryStream::Write(const void* buffer, long count) {
    if (count <= 0) return 0;
    size_t end = static_cast<size_t>(FPos) + static_cast<size_t>(count);
    if (end > FData.size()) FData.resize(end);
    std::memcpy(FData.data() + FPos, buffer, static_cast<size_t>(count));
    FPos = static_cast<int64_t>(end);
    return count;
}

int64_t TMemoryStream::Seek(int64_t offset, TSeekOrigin origin) {
    int64_t base = origin == soBeginning ? 0 : origin == soCurrent ? FPos : static_cast<int64_t>(FData.size());
    FPos = std::max<int64_t>(0, base + offset);
    return FPos;
}

void TMemoryStream::SetSize(int64_t size) {
    FData.resize(static_cast<size_t>(std::max<int64_t>(0, size)));
    if (FPos > size) FPos = size;
}

void TMemoryStream::LoadFromFile(const std::string& path) {
    TFileStream f(path, fmOpenRead | fmShareDenyWrite);
    Clear();
    SetSize(f.Size());
    if (!FData.empty()) f.ReadBuffer(FData.data(), static_cast<long>(FData.size()));
}

void TMemoryStream::SaveToFile(const std::string& path) const {
    TFileStream f(path, fmCreate);
    if (!FData.empty()) f.WriteBuffer(FData.data(), static_cast<long>(FData.size()));
}

}  // namespace velmora
