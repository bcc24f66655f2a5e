// TExclusiveFile and the private exchange files on POSIX: flock with a check that the locked
// descriptor still names the path, pread/pwrite at offsets, futimens for the heartbeat.
#include "ExclusiveFile.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "SysUtils.h"

namespace velmora {

TExclusiveOpen TExclusiveFile::Open(const std::string& path, bool writable, bool create) {
    Close();
    int flags = (writable ? O_RDWR : O_RDONLY) | O_CLOEXEC | O_NOFOLLOW;
    if (create) flags |= O_CREAT;
    int fd = ::open(path.c_str(), flags, 0600);
    if (fd < 0) return errno == ENOENT ? TExclusiveOpen::Missing : TExclusiveOpen::Locked;
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        ::close(fd);
        return TExclusiveOpen::Locked;
    }
    // Whoever held the lock before may have deleted or replaced the file: then this descriptor
    // names a file outside the exchange, and the caller's next attempt opens the one there now.
    struct stat held {}, named {};
    if (::fstat(fd, &held) != 0 || ::stat(path.c_str(), &named) != 0 || held.st_dev != named.st_dev ||
        held.st_ino != named.st_ino) {
        ::close(fd);
        return TExclusiveOpen::Locked;
    }
    FHandle = fd;
    return TExclusiveOpen::Opened;
}

void TExclusiveFile::Close() noexcept {
    if (FHandle >= 0) ::close(FHandle);  // closing drops the lock
    FHandle = -1;
}

int64_t TExclusiveFile::Size() {
    struct stat st {};
    return ::fstat(FHandle, &st) == 0 ? static_cast<int64_t>(st.st_size) : 0;
}

long TExclusiveFile::ReadAt(int64_t offset, void* buffer, long count) {
    long done = 0;
    while (done < count) {
        ssize_t n = ::pread(FHandle, static_cast<char*>(buffer) + done, static_cast<size_t>(count - done), offset + done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        done += n;
    }
    return done;
}

bool TExclusiveFile::WriteAt(int64_t offset, const void* buffer, long count) {
    long done = 0;
    while (done < count) {
        ssize_t n = ::pwrite(FHandle, static_cast<const char*>(buffer) + done, static_cast<size_t>(count - done), offset + done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        done += n;
    }
    return true;
}

bool TExclusiveFile::Truncate(int64_t size) { return ::ftruncate(FHandle, size) == 0; }

bool TExclusiveFile::Touch() { return ::futimens(FHandle, nullptr) == 0; }

bool FileLastWriteAge(const std::string& path, double& seconds) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) return false;
    timespec now {};
    ::clock_gettime(CLOCK_REALTIME, &now);
    double age = static_cast<double>(now.tv_sec - st.st_mtim.tv_sec) +
                 static_cast<double>(now.tv_nsec - st.st_mtim.tv_nsec) / 1e9;
    seconds = age < 0 ? 0 : age;
    return true;
}

bool TouchFile(const std::string& path) { return ::utimensat(AT_FDCWD, path.c_str(), nullptr, 0) == 0; }

std::unique_ptr<THandleStream> CreatePrivateFile(const std::string& path, bool mustBeNew, bool* existed) {
    int flags = O_WRONLY | O_CREAT | O_CLOEXEC | O_NOFOLLOW | (mustBeNew ? O_EXCL : O_TRUNC);
    int fd = ::open(path.c_str(), flags, 0600);
    if (fd < 0) {
        if (mustBeNew && errno == EEXIST) {
            if (existed) *existed = true;
            return nullptr;
        }
        throw EFCreateError("Cannot create file \"" + path + "\". " + std::strerror(errno));
    }
    return std::make_unique<THandleStream>(fd, true);
}

std::unique_ptr<THandleStream> OpenFileForReading(const std::string& path, bool* notRegular) {
    if (notRegular) *notRegular = false;
    // Non-blocking, or a FIFO planted under the name would hold the open until someone writes to
    // it; a regular file reads the same either way.
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
    struct stat st {};
    if (fd < 0) {
        // A link (ELOOP) or a socket (ENXIO) cannot be opened at all: still no regular file.
        if (notRegular && ::lstat(path.c_str(), &st) == 0 && !S_ISREG(st.st_mode)) *notRegular = true;
        return nullptr;
    }
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        if (notRegular) *notRegular = true;
        ::close(fd);
        return nullptr;
    }
    // A regular file reads the same with O_NONBLOCK: the flag is left as it is (two system calls
    // fewer for each message the outbox's sender reads).
    return std::make_unique<THandleStream>(fd, true);
}

bool MoveIntoSubfolder(const std::string& folder, const std::string& name, const std::string& subfolder) {
    int dir = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir < 0) return false;
    ::mkdirat(dir, subfolder.c_str(), 0700);
    // Opened without following a link: a link planted under the subfolder's name must not carry
    // the file out of the folder.
    int sub = ::openat(dir, subfolder.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    bool ok = sub >= 0 && ::renameat(dir, name.c_str(), sub, name.c_str()) == 0;
    if (sub >= 0) ::close(sub);
    ::close(dir);
    return ok;
}

bool CreatePrivateDir(const std::string& path) {
    if (::mkdir(path.c_str(), 0700) == 0) return true;
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool SyncToDisk(THandleStream& file) { return file.Handle() >= 0 && ::fsync(file.Handle()) == 0; }

bool SyncFolder(const std::string& path) {
    int fd = ::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return false;
    bool ok = ::fsync(fd) == 0;
    ::close(fd);
    return ok;
}

}  // namespace velmora
