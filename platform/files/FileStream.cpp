// TFileStream on POSIX descriptors. Share modes map to flock: an exclusive open takes
// LOCK_EX|LOCK_NB right after open and fails while another descriptor holds the lock.
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "Streams.h"
#include "SysUtils.h"

namespace velmora {

TFileStream::TFileStream(const std::string& path, unsigned mode) : FFileName(path) {
    FOwnsHandle = true;
    const bool create = (mode & 0xFF00u) == fmCreate;
    const unsigned access = mode & 0x0003u;
    const unsigned share = create ? (mode & 0x00F0u) : (mode & 0x00F0u);
    int flags = O_CLOEXEC;
    if (create) flags |= O_RDWR | O_CREAT | O_TRUNC;
    else if (access == fmOpenWrite) flags |= O_WRONLY;
    else if (access == fmOpenReadWrite) flags |= O_RDWR;
    else flags |= O_RDONLY;
    // With an exclusive create, truncating before the lock is held would destroy a locked file.
    if (create && share == fmShareExclusive) flags &= ~O_TRUNC;
    FHandle = ::open(path.c_str(), flags, 0666);
    if (FHandle < 0) {
        std::string why = std::strerror(errno);
        if (create) throw EFCreateError("Cannot create file \"" + path + "\". " + why);
        throw EFOpenError("Cannot open file \"" + path + "\". " + why);
    }
    if (share == fmShareExclusive && ::flock(FHandle, LOCK_EX | LOCK_NB) != 0) {
        ::close(FHandle);
        FHandle = -1;
        std::string msg = "Cannot open file \"" + path + "\". The file is in use by another process";
        if (create) throw EFCreateError(msg);
        throw EFOpenError(msg);
    }
    if (create && share == fmShareExclusive && ::ftruncate(FHandle, 0) != 0) {
        ::close(FHandle);
        FHandle = -1;
        throw EFCreateError("Cannot create file \"" + path + "\". " + std::strerror(errno));
    }
}

TFileStream::TFileStream(int handle, const std::string& path) : FFileName(path) {
    FHandle = handle;
    FOwnsHandle = true;
}

std::unique_ptr<TFileStream> TFileStream::CreateNew(const std::string& path) {
    int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0) {
        if (errno == EEXIST) return nullptr;
        throw EFCreateError("Cannot create file \"" + path + "\". " + std::strerror(errno));
    }
    return std::unique_ptr<TFileStream>(new TFileStream(fd, path));
}

}  // namespace velmora
