// Hard link or copy, then rename: the file at `to` is always either the old one or the new one
// whole. The user look-up reads the system's account database (getpwnam_r).
#include "FilePlacement.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <vector>

#include "Files.h"

namespace velmora {

namespace {

std::string Why(const std::string& what) { return what + ": " + std::strerror(errno); }

bool CopyBytes(int in, int out) {
    std::vector<char> buffer(1 << 16);
    for (;;) {
        ssize_t n = ::read(in, buffer.data(), buffer.size());
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return n == 0;
        for (ssize_t done = 0; done < n;) {
            ssize_t w = ::write(out, buffer.data() + done, static_cast<size_t>(n - done));
            if (w < 0 && errno == EINTR) continue;
            if (w <= 0) return false;
            done += w;
        }
    }
}

bool CopyTo(const std::string& from, const std::string& to, unsigned mode, std::string& error) {
    int in = ::open(from.c_str(), O_RDONLY | O_CLOEXEC);
    if (in < 0) {
        error = Why("cannot read " + from);
        return false;
    }
    int out = ::open(to.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    bool ok = out >= 0 && CopyBytes(in, out) && ::fchmod(out, mode) == 0 && ::fsync(out) == 0;
    if (!ok) error = Why("cannot write " + to);
    if (out >= 0) ::close(out);
    ::close(in);
    return ok;
}

}  // namespace

TPlaced PlaceFile(const std::string& from, const std::string& to, unsigned mode, bool tryLink, std::string& error) {
    const std::string fresh = ExtractFilePath(to) + "." + ExtractFileName(to) + ".new";
    ::unlink(fresh.c_str());  // left by a run that was stopped half-way
    TPlaced how = TPlaced::Failed;
    // A link shares the file's mode: only one that already has the mode asked for is linked.
    struct stat st {};
    const bool sameMode = ::stat(from.c_str(), &st) == 0 && (st.st_mode & 07777) == mode;
    if (tryLink && sameMode && ::link(from.c_str(), fresh.c_str()) == 0) how = TPlaced::Linked;
    else if (CopyTo(from, fresh, mode, error)) how = TPlaced::Copied;
    if (how == TPlaced::Failed) {
        ::unlink(fresh.c_str());
        return how;
    }
    if (::rename(fresh.c_str(), to.c_str()) != 0) {
        error = Why("cannot replace " + to);
        ::unlink(fresh.c_str());
        return TPlaced::Failed;
    }
    return how;
}

bool GiveToUser(const std::string& path, const std::string& user, std::string& error) {
    passwd entry{}, *found = nullptr;
    std::vector<char> buffer(16384);
    if (::getpwnam_r(user.c_str(), &entry, buffer.data(), buffer.size(), &found) != 0 || found == nullptr) {
        error = "no user account \"" + user + "\"";
        return false;
    }
    if (::chown(path.c_str(), entry.pw_uid, entry.pw_gid) != 0) {
        error = Why("cannot give " + path + " to " + user);
        return false;
    }
    return true;
}

bool SetMode(const std::string& path, unsigned mode) { return ::chmod(path.c_str(), mode) == 0; }

}  // namespace velmora
