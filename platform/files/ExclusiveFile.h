// Files of a private exchange between processes of one user: a file held under an exclusive lock
// for a whole read-change-write, files and a folder only their owner may touch, and file ages.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "Streams.h"

namespace velmora {

enum class TExclusiveOpen { Opened, Missing, Locked };

// A file opened with exclusive access: flock(LOCK_EX) taken without waiting and held until Close
// or destruction. The lock always guards the file the path names when Open returns: a file that
// was deleted or replaced while the lock was being taken is given up (Locked), so nothing is
// ever written into a file no one else will read again. One object, one thread.
class TExclusiveFile {
public:
    TExclusiveFile() = default;
    ~TExclusiveFile() { Close(); }
    TExclusiveFile(const TExclusiveFile&) = delete;
    TExclusiveFile& operator=(const TExclusiveFile&) = delete;

    // writable: open for reading and writing, else read-only. create: a missing file is made,
    // readable and writable by its owner only. Missing: no file (and create off); Locked: held
    // elsewhere, or it could not be opened.
    TExclusiveOpen Open(const std::string& path, bool writable, bool create = false);
    void Close() noexcept;
    bool IsOpen() const noexcept { return FHandle >= 0; }

    int64_t Size();
    // The bytes moved; fewer at the end of the file or on an error.
    long ReadAt(int64_t offset, void* buffer, long count);
    bool WriteAt(int64_t offset, const void* buffer, long count);
    bool Truncate(int64_t size);
    // Sets the last-write time to now.
    bool Touch();

private:
    int FHandle = -1;
};

// Seconds since the file's last write (never negative); false when it does not exist.
bool FileLastWriteAge(const std::string& path, double& seconds);
// Sets a file's last-write time to now; false when that failed.
bool TouchFile(const std::string& path);

// A new file for writing that only its owner may read or write; a symbolic link at the path is
// never followed. mustBeNew: null when the path exists already (then existed is set); otherwise
// an existing file is emptied. EFCreateError for any other failure.
std::unique_ptr<THandleStream> CreatePrivateFile(const std::string& path, bool mustBeNew, bool* existed = nullptr);
// An existing regular file opened for reading, without following a symbolic link and without
// waiting on a FIFO; null when that fails. notRegular (when given) tells that something other
// than a regular file lies under the name (a link, a FIFO, a folder, a socket).
std::unique_ptr<THandleStream> OpenFileForReading(const std::string& path, bool* notRegular = nullptr);
// Moves the entry name of folder into folder/subfolder (made, only its owner may enter it, when
// missing). False when that fails, and always when subfolder is a symbolic link.
bool MoveIntoSubfolder(const std::string& folder, const std::string& name, const std::string& subfolder);
// Makes a folder only its owner may enter; true when it exists afterwards.
bool CreatePrivateDir(const std::string& path);

// Puts what was written to the file on the disk (fsync): what a crash of the machine must not lose.
bool SyncToDisk(THandleStream& file);
// The same for a folder's entries: files created, renamed or removed in it.
bool SyncFolder(const std::string& path);

}  // namespace velmora
