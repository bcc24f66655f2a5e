// Window titles as locked files in a per-user folder. The owner keeps LOCK_EX on the file; a finder
// takes LOCK_SH without waiting, which fails exactly while an owner holds the title. Only an owner
// removes a file, under its lock, and an owner re-checks after locking that its descriptor is still
// the file of that name, so a removal never strands an owner on an unlinked file.
#include "WindowTitle.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdlib>

namespace velmora {

namespace {

constexpr size_t kNameLimit = 255;   // NAME_MAX of the common Linux file systems
constexpr size_t kHashedPrefix = 200;
constexpr int kOpenTries = 10;       // replaced-file races while taking a title
constexpr int kLockTries = 100;      // a finder's probe holds its shared lock for microseconds
constexpr unsigned kLockPauseUs = 1000;

bool IsSafeNameByte(unsigned char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == ' ' ||
           c == '-' || c == '_' || c == '.';
}

int HexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

uint64_t Fnv1a(const std::string& s) {
    uint64_t h = 1469598103934665603ull;
    for (unsigned char c : s) {
        h ^= c;
        h *= 1099511628211ull;
    }
    return h;
}

// The path's file is the one open on fd (not replaced or removed since it was opened).
bool SameFile(int fd, const std::string& path) {
    struct stat a, b;
    if (::fstat(fd, &a) != 0 || ::lstat(path.c_str(), &b) != 0) return false;
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

bool TryLock(int fd, int operation) {
    for (;;) {
        if (::flock(fd, operation | LOCK_NB) == 0) return true;
        if (errno != EINTR) return false;
    }
}

// LOCK_EX without waiting for finders, whose shared probes last microseconds, but without waiting
// for another owner either: a title that another window holds is simply not ours.
bool LockAsOwner(int fd) {
    for (int i = 0; i < kLockTries; ++i) {
        if (TryLock(fd, LOCK_EX)) return true;
        if (!TryLock(fd, LOCK_SH)) return false;  // an exclusive holder: another window
        ::flock(fd, LOCK_UN);
        ::usleep(kLockPauseUs);
    }
    return false;
}

// Opens and locks the title file; -1 when another window holds it or it cannot be made.
int TakeTitleFile(const std::string& path) {
    for (int attempt = 0; attempt < kOpenTries; ++attempt) {
        int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
        if (fd < 0) return -1;
        if (!LockAsOwner(fd)) {
            ::close(fd);
            return -1;
        }
        if (SameFile(fd, path)) return fd;
        ::close(fd);  // removed by its last holder meanwhile: take the new file
    }
    return -1;
}

}  // namespace

std::string WindowTitleFolder() {
    const char* tmp = std::getenv("TMPDIR");
    std::string dir = (tmp && *tmp) ? tmp : "/tmp";
    if (dir.size() > 1 && dir.back() == '/') dir.pop_back();
    dir += "/velmora-windows-" + std::to_string(::geteuid());
    ::mkdir(dir.c_str(), 0700);
    struct stat st;
    if (::lstat(dir.c_str(), &st) != 0 || !S_ISDIR(st.st_mode) || st.st_uid != ::geteuid()) return {};
    if ((st.st_mode & 077) != 0 && ::chmod(dir.c_str(), 0700) != 0) return {};
    return dir;
}

std::string WindowTitleFileName(const std::string& title) {
    static const char hex[] = "0123456789ABCDEF";
    std::string name;
    for (size_t i = 0; i < title.size(); ++i) {
        auto c = static_cast<unsigned char>(title[i]);
        // A leading "." would make hidden files and the names "." and "..".
        if (IsSafeNameByte(c) && !(i == 0 && c == '.')) {
            name += static_cast<char>(c);
        } else {
            name += '%';
            name += hex[c >> 4];
            name += hex[c & 15];
        }
    }
    if (name.size() <= kNameLimit) return name;
    size_t cut = kHashedPrefix;
    if (name[cut - 1] == '%') cut -= 1;          // never split an escape
    else if (name[cut - 2] == '%') cut -= 2;
    std::string hashed = name.substr(0, cut) + "%~";  // "%~" never occurs in a full encoding
    uint64_t h = Fnv1a(title);
    for (int shift = 60; shift >= 0; shift -= 4) hashed += hex[(h >> shift) & 15];
    return hashed;
}

std::string WindowTitleFromFileName(const std::string& name) {
    std::string title;
    for (size_t i = 0; i < name.size(); ++i) {
        if (name[i] != '%') {
            title += name[i];
            continue;
        }
        int hi = i + 2 < name.size() ? HexValue(name[i + 1]) : -1;
        int lo = i + 2 < name.size() ? HexValue(name[i + 2]) : -1;
        if (hi < 0 || lo < 0) return {};  // a shortened (hashed) name or not ours
        title += static_cast<char>(hi * 16 + lo);
        i += 2;
    }
    return title;
}

bool TWindowTitle::SetTitle(const std::string& title) {
    Release();
    FTitle = title;
    if (title.empty()) return false;
    std::string dir = WindowTitleFolder();
    if (dir.empty()) return false;
    std::string path = dir + "/" + WindowTitleFileName(title);
    FHandle = TakeTitleFile(path);
    if (FHandle >= 0) FPath = path;
    return FHandle >= 0;
}

void TWindowTitle::Release() noexcept {
    if (FHandle < 0) return;
    if (SameFile(FHandle, FPath)) ::unlink(FPath.c_str());  // still locked: no one else can be using it
    ::close(FHandle);
    FHandle = -1;
    FPath.clear();
}

bool FindWindowByTitle(const std::string& title) {
    if (title.empty()) return false;
    std::string dir = WindowTitleFolder();
    if (dir.empty()) return false;
    std::string path = dir + "/" + WindowTitleFileName(title);
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
    if (fd < 0) return false;
    // A file whose lock is free was left by a window whose process died; it is harmless and is
    // reused by the next window of that title, so the finder leaves it alone.
    const bool held = !TryLock(fd, LOCK_SH) && errno == EWOULDBLOCK;
    ::close(fd);
    return held;
}

}  // namespace velmora
