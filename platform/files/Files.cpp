// File and path services on POSIX: existence tests, folders, atomic rename, one-write appends and
// the first-match directory search that the existence tests of the engines use.
#include "Files.h"

#include <dirent.h>
#include <fcntl.h>
#include <fnmatch.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>

namespace velmora {

bool IsAbsolutePath(const std::string& path) noexcept { return !path.empty() && path[0] == PathDelim; }

std::string ExtractFilePath(const std::string& path) {
    size_t p = path.rfind(PathDelim);
    return p == std::string::npos ? std::string() : path.substr(0, p + 1);
}

std::string ExtractFileDir(const std::string& path) {
    size_t p = path.rfind(PathDelim);
    if (p == std::string::npos) return {};
    return p == 0 ? std::string("/") : path.substr(0, p);
}

std::string ExtractFileName(const std::string& path) {
    size_t p = path.rfind(PathDelim);
    return p == std::string::npos ? path : path.substr(p + 1);
}

bool FileExists(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && !S_ISDIR(st.st_mode);
}

bool DirectoryExists(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool RealDirectoryExists(const std::string& path) {
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool IsRegularFile(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

bool PathExists(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0;
}

bool CreateDir(const std::string& path, unsigned mode) { return ::mkdir(path.c_str(), static_cast<mode_t>(mode)) == 0; }

bool DeleteFile(const std::string& path) { return ::unlink(path.c_str()) == 0; }

bool RenameFile(const std::string& from, const std::string& to) {
    return ::rename(from.c_str(), to.c_str()) == 0;
}

bool AppendToFile(const std::string& path, const std::string& bytes, unsigned mode) {
    int fd = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, static_cast<mode_t>(mode));
    if (fd < 0) return false;
    // O_APPEND makes each write land whole at the current end, so concurrent writers of single
    // lines never interleave.
    ssize_t n;
    do {
        n = ::write(fd, bytes.data(), bytes.size());
    } while (n < 0 && errno == EINTR);
    ::close(fd);
    return n == static_cast<ssize_t>(bytes.size());
}

static int AttrOf(const struct stat& st, const std::string& name) {
    int a = 0;
    if (S_ISDIR(st.st_mode)) a |= faDirectory;
    else a |= faArchive;
    if (!name.empty() && name[0] == '.') a |= faHidden;
    if ((st.st_mode & 0222) == 0) a |= faReadOnly;
    return a;
}

// Plain files always match; folders, hidden and system entries only when asked for, as a
// Windows search does.
static bool AttrFits(int entryAttr, int wanted) {
    int special = entryAttr & (faDirectory | faHidden | faSysFile);
    return (special & ~wanted) == 0;
}

int FindFirstFile(const std::string& pattern, int attr, TSearchRec& rec) {
    std::string dir = ExtractFileDir(pattern);
    std::string mask = ExtractFileName(pattern);
    std::string folder = dir.empty() ? std::string(".") : dir;
    DIR* d = ::opendir(folder.c_str());
    if (!d) return 3;
    int result = 2;
    while (struct dirent* e = ::readdir(d)) {
        std::string name = e->d_name;
        if (name == "." || name == "..") continue;
        if (::fnmatch(mask.c_str(), name.c_str(), FNM_PERIOD) != 0) continue;
        struct stat st {};
        std::string full = (dir.empty() ? std::string() : dir + "/") + name;
        if (::lstat(full.c_str(), &st) != 0) continue;
        int a = AttrOf(st, name);
        if (!AttrFits(a, attr)) continue;
        rec.Name = name;
        rec.Size = static_cast<int64_t>(st.st_size);
        rec.Attr = a;
        rec.Time = static_cast<double>(st.st_mtime) / 86400.0 + 25569.0;
        result = 0;
        break;
    }
    ::closedir(d);
    return result;
}

std::vector<std::string> ListFiles(const std::string& pattern) {
    std::vector<std::string> names;
    std::string dir = ExtractFileDir(pattern);
    std::string mask = ExtractFileName(pattern);
    DIR* d = ::opendir(dir.empty() ? "." : dir.c_str());
    if (!d) return names;
    while (struct dirent* e = ::readdir(d)) {
        std::string name = e->d_name;
        if (::fnmatch(mask.c_str(), name.c_str(), FNM_PERIOD) != 0) continue;
        // The entry's own type, where the file system gives it, spares a look at each file (a
        // folder of many thousands is listed every second by the outbox's count).
        if (e->d_type != DT_UNKNOWN) {
            if (e->d_type != DT_DIR) names.push_back(name);
            continue;
        }
        struct stat st {};
        if (::lstat(((dir.empty() ? std::string(".") : dir) + "/" + name).c_str(), &st) == 0 && !S_ISDIR(st.st_mode))
            names.push_back(name);
    }
    ::closedir(d);
    return names;
}

TFileStamp GetFileStamp(const std::string& path) {
    TFileStamp stamp;
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) return stamp;
    stamp.Exists = true;
    stamp.Regular = S_ISREG(st.st_mode);
    stamp.Size = st.st_size;
    stamp.ModifiedNs = static_cast<int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
    stamp.Device = st.st_dev;
    stamp.Inode = st.st_ino;
    stamp.Mode = st.st_mode & 07777;
    stamp.Group = st.st_gid;
    return stamp;
}

unsigned ProcessGroup() noexcept { return ::getegid(); }

std::string RealPath(const std::string& path) {
    char resolved[PATH_MAX];
    return ::realpath(path.c_str(), resolved) ? std::string(resolved) : std::string();
}

std::vector<std::string> ListFolder(const std::string& dir, size_t maxEntries) {
    std::vector<std::string> names;
    DIR* d = ::opendir(dir.c_str());
    if (!d) return names;
    while (names.size() < maxEntries) {
        dirent* e = ::readdir(d);
        if (!e) break;
        std::string name = e->d_name;
        if (name != "." && name != "..") names.push_back(std::move(name));
    }
    ::closedir(d);
    return names;
}

}  // namespace velmora
