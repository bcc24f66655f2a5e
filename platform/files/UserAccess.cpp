// Permission bits read for another account (see UserAccess.h): owner bits for the owner, group
// bits for a member of the file's group, the others' bits for everyone else; root passes all.
#include "UserAccess.h"

#include "Files.h"

#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <vector>

namespace velmora {

namespace {

struct TAccount {
    uid_t Uid = 0;
    gid_t Gid = 0;
    std::vector<gid_t> Groups;
};

bool FindAccount(const std::string& user, TAccount& account) {
    std::vector<char> buffer(16384);
    passwd entry{};
    passwd* found = nullptr;
    if (getpwnam_r(user.c_str(), &entry, buffer.data(), buffer.size(), &found) != 0 || !found) return false;
    account.Uid = found->pw_uid;
    account.Gid = found->pw_gid;
    int count = 64;
    account.Groups.resize(static_cast<size_t>(count));
    if (getgrouplist(user.c_str(), found->pw_gid, account.Groups.data(), &count) < 0) {
        account.Groups.resize(static_cast<size_t>(count));
        getgrouplist(user.c_str(), found->pw_gid, account.Groups.data(), &count);
    }
    account.Groups.resize(static_cast<size_t>(std::max(count, 0)));
    return true;
}

}  // namespace

bool UserMayAccess(const std::string& path, const std::string& user, unsigned want, std::string& why) {
    TAccount account;
    if (!FindAccount(user, account)) {
        why = "there is no account " + user;
        return false;
    }
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) {
        why = std::strerror(errno);
        return false;
    }
    if (account.Uid == 0) return true;
    unsigned bits = st.st_mode & 07;
    if (st.st_uid == account.Uid)
        bits = (st.st_mode >> 6) & 07;
    else if (std::find(account.Groups.begin(), account.Groups.end(), st.st_gid) != account.Groups.end())
        bits = (st.st_mode >> 3) & 07;
    return (bits & want) == want;
}

std::string CurrentUserName() {
    std::vector<char> buffer(16384);
    passwd entry{};
    passwd* found = nullptr;
    if (getpwuid_r(::geteuid(), &entry, buffer.data(), buffer.size(), &found) != 0 || !found) return "";
    return found->pw_name;
}

namespace {

int TryWriting(const std::string& folder) {
    std::string at = folder;
    while (!DirectoryExists(at) && at.size() > 1) at = at.substr(0, at.find_last_of('/', at.size() - 2) + 1);
    const std::string a = at + "/.velmora-check-" + std::to_string(::getpid()), b = a + "-renamed";
    int fd = ::open(a.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd < 0) return errno;
    int error = ::write(fd, "x", 1) == 1 ? 0 : errno;
    ::close(fd);
    if (error == 0 && ::rename(a.c_str(), b.c_str()) != 0) error = errno;
    ::unlink(error == 0 ? b.c_str() : a.c_str());
    return error;
}

}  // namespace

int TryWritingAs(const std::string& folder, const std::string& user) {
    TAccount account;
    if (!FindAccount(user, account)) return ESRCH;
    if (::geteuid() == account.Uid) return TryWriting(folder);
    std::string why;
    if (::geteuid() != 0) return UserMayAccess(folder, user, acWrite | acSearch, why) ? 0 : EACCES;
    pid_t child = ::fork();
    if (child < 0) return errno;
    if (child == 0) {
        if (::setgroups(account.Groups.size(), account.Groups.data()) != 0 || ::setgid(account.Gid) != 0 ||
            ::setuid(account.Uid) != 0)
            _exit(EPERM);
        _exit(TryWriting(folder));
    }
    int status = 0;
    while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : EIO;
}

bool UserGroup(const std::string& user, unsigned& group) {
    TAccount account;
    if (!FindAccount(user, account)) return false;
    group = account.Gid;
    return true;
}

}  // namespace velmora
