// A small file read and changed under an exclusive lock that every process and thread honours:
// new contents replace the file by rename, so a reader never finds it missing or short; a few
// bytes of unchanged size may instead be overwritten in place.
#pragma once

#include <string>

namespace velmora {

// Holds the exclusive lock on the file at a path from construction to destruction. The lock is
// taken on the file itself and re-taken when another holder replaced the file while we waited,
// so it always guards the file that the path names. Thread-affine: one object, one thread.
class TLockedFile {
public:
    // Waits for the lock. Exists() is false when no file is there (then nothing is locked).
    // EFOpenError when the file exists but cannot be opened or locked.
    explicit TLockedFile(const std::string& path);
    ~TLockedFile();
    TLockedFile(const TLockedFile&) = delete;
    TLockedFile& operator=(const TLockedFile&) = delete;

    bool Exists() const noexcept { return FHandle >= 0; }
    // The whole file as it is now; EReadError on a read failure.
    std::string ReadAll();
    // Writes bytes to a new file beside it with the old file's permissions and renames that over
    // the path. The lock stays held until destruction.
    void Replace(const std::string& bytes);
    // True when the file was opened for writing (the caller may write to it, not just beside it).
    bool Writable() const noexcept { return FWritable; }
    // Overwrites bytes at offset in the locked file itself, in one write; the file's length does
    // not change when they lie inside it. Only for a Writable file; EWriteError on failure.
    void OverwriteAt(long offset, const std::string& bytes);

private:
    std::string FPath;
    int FHandle = -1;
    long FSize = 0;  // when the lock was taken
    bool FWritable = false;
};

// Writes bytes to a new file beside path and renames it over path (which need not exist);
// mode gives the permissions of the new file (before the umask unless keepMode).
// EFCreateError / EWriteError on failure; the temporary file is removed then.
void WriteFileAtomic(const std::string& path, const std::string& bytes, unsigned mode = 0666,
                     bool keepMode = false);

}  // namespace velmora
