// THandleStream: reads, writes and seeks on a POSIX descriptor, repeating short and interrupted
// calls; the base of TFileStream and the stream a CGI program has on its standard handles.
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "Streams.h"
#include "SysUtils.h"

namespace velmora {

THandleStream::~THandleStream() { Close(); }

bool THandleStream::Close() noexcept {
    if (!FOwnsHandle || FHandle < 0) return true;
    int rc = ::close(FHandle);
    FHandle = -1;
    return rc == 0;
}

long THandleStream::Read(void* buffer, long count) {
    if (count <= 0 || FHandle < 0) return 0;
    long done = 0;
    auto* p = static_cast<char*>(buffer);
    while (done < count) {
        ssize_t n = ::read(FHandle, p + done, static_cast<size_t>(count - done));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        done += n;
    }
    return done;
}

long THandleStream::Write(const void* buffer, long count) {
    if (count <= 0 || FHandle < 0) return 0;
    long done = 0;
    auto* p = static_cast<const char*>(buffer);
    while (done < count) {
        ssize_t n = ::write(FHandle, p + done, static_cast<size_t>(count - done));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        done += n;
    }
    return done;
}

int64_t THandleStream::Seek(int64_t offset, TSeekOrigin origin) {
    int whence = origin == soBeginning ? SEEK_SET : origin == soCurrent ? SEEK_CUR : SEEK_END;
    off_t r = ::lseek(FHandle, static_cast<off_t>(offset), whence);
    return r < 0 ? -1 : static_cast<int64_t>(r);
}

void THandleStream::SetSize(int64_t size) {
    if (::ftruncate(FHandle, static_cast<off_t>(size)) != 0)
        throw EWriteError("Cannot set size of " + HandleName() + ". " + std::strerror(errno));
    if (Position() > size) Seek(size, soBeginning);
}

}  // namespace velmora
