// TLockedFile and WriteFileAtomic on POSIX: flock on a descriptor of the file itself (separate
// opens conflict, so threads of one process exclude each other too) and write-beside-then-rename.
#include "LockedFile.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>

#include "SysUtils.h"

namespace velmora {

namespace {

std::string ErrnoText() { return std::strerror(errno); }

bool SameFile(const struct stat& a, const struct stat& b) {
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

int LockBlocking(int fd) {
    int r;
    do {
        r = ::flock(fd, LOCK_EX);
    } while (r != 0 && errno == EINTR);
    return r;
}

bool WriteAll(int fd, const std::string& bytes) {
    size_t done = 0;
    while (done < bytes.size()) {
        ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        done += static_cast<size_t>(n);
    }
    return true;
}

// A name beside path that no other process or thread uses at the same time.
int CreateUniqueBeside(const std::string& path, unsigned mode, std::string& tempName) {
    static std::atomic<unsigned> serial{0};
    for (int attempt = 0; attempt < 100; ++attempt) {
        tempName = path + "." + IntToStr(::getpid()) + "." + IntToStr(serial++) + ".tmp";
        int fd = ::open(tempName.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode);
        if (fd >= 0 || errno != EEXIST) return fd;
    }
    return -1;
}

}  // namespace

TLockedFile::TLockedFile(const std::string& path) : FPath(path) {
    // Another holder may rename a new file over the path while we wait for the lock on the old
    // one; then the lock we got guards nothing, and we start again on the file now there.
    for (;;) {
        // Read-only when the file may not be written: changes then go through Replace, which
        // needs only the folder to be writable.
        int fd = ::open(path.c_str(), O_RDWR | O_CLOEXEC);
        FWritable = fd >= 0;
        if (fd < 0 && (errno == EACCES || errno == EPERM || errno == EROFS))
            fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
        if (fd < 0) {
            if (errno == ENOENT) return;
            throw EFOpenError("Cannot open file \"" + path + "\". " + ErrnoText());
        }
        if (LockBlocking(fd) != 0) {
            std::string why = ErrnoText();
            ::close(fd);
            throw EFOpenError("Cannot lock file \"" + path + "\". " + why);
        }
        struct stat held {}, named {};
        bool heldOk = ::fstat(fd, &held) == 0;
        int namedRc = ::stat(path.c_str(), &named);
        bool gone = namedRc != 0 && errno == ENOENT;  // deleted while we waited
        if (heldOk && namedRc == 0 && SameFile(held, named)) {
            FHandle = fd;
            FSize = static_cast<long>(held.st_size);
            return;
        }
        ::close(fd);
        if (gone) return;
    }
}

TLockedFile::~TLockedFile() {
    if (FHandle >= 0) ::close(FHandle);  // closing the last descriptor releases the lock
}

std::string TLockedFile::ReadAll() {
    std::string bytes;
    if (FHandle < 0) return bytes;
    // The size seen under the lock plus one: a single read that comes back short has reached the
    // end (the common case, one system call); a writer that ignored the lock may have added more.
    size_t done = 0;
    bytes.resize(static_cast<size_t>(std::max(FSize, 0L)) + 1);
    for (;;) {
        ssize_t n = ::pread(FHandle, bytes.data() + done, bytes.size() - done, static_cast<off_t>(done));
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) throw EReadError("Cannot read \"" + FPath + "\". " + ErrnoText());
        done += static_cast<size_t>(n);
        if (done < bytes.size()) break;
        bytes.resize(bytes.size() * 2);
    }
    bytes.resize(done);
    return bytes;
}

void TLockedFile::Replace(const std::string& bytes) {
    struct stat st {};
    unsigned mode = 0666;
    bool keep = false;
    if (FHandle >= 0 && ::fstat(FHandle, &st) == 0) {
        mode = st.st_mode & 07777;
        keep = true;
    }
    WriteFileAtomic(FPath, bytes, mode, keep);
}

void TLockedFile::OverwriteAt(long offset, const std::string& bytes) {
    if (!FWritable) throw EWriteError("Cannot write file \"" + FPath + "\". It is open for reading only");
    ssize_t n;
    do {
        n = ::pwrite(FHandle, bytes.data(), bytes.size(), offset);
    } while (n < 0 && errno == EINTR);
    if (n != static_cast<ssize_t>(bytes.size()))
        throw EWriteError("Cannot write file \"" + FPath + "\". " + (n < 0 ? ErrnoText() : "short write"));
}

void WriteFileAtomic(const std::string& path, const std::string& bytes, unsigned mode, bool keepMode) {
    std::string temp;
    int fd = CreateUniqueBeside(path, mode, temp);
    if (fd < 0) throw EFCreateError("Cannot create file \"" + temp + "\". " + ErrnoText());
    // The data must be on disk before the rename makes it the file, or a crash could leave the
    // path naming an empty file.
    bool ok = (!keepMode || ::fchmod(fd, mode) == 0) && WriteAll(fd, bytes) && ::fsync(fd) == 0;
    std::string why = ErrnoText();
    ::close(fd);
    if (!ok) {
        ::unlink(temp.c_str());
        throw EWriteError("Cannot write file \"" + temp + "\". " + why);
    }
    if (::rename(temp.c_str(), path.c_str()) != 0) {
        why = ErrnoText();
        ::unlink(temp.c_str());
        throw EWriteError("Cannot replace file \"" + path + "\". " + why);
    }
}

}  // namespace velmora
