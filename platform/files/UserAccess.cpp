// Permission bits read for another account (see UserAccess.h): owner bits for the owner, group
// bits for a member of the file's group, the others' bits for everyone else; root passes all.
#include "UserAccess.h"

#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <vector>

namespace velmora {

namespace {

struct TAccount {
    uid_t Uid = 0;
    std::vector<gid_t> Groups;
};

bool FindAccount(const std::string& user, TAccount& account) {
    std::vector<char> buffer(16384);
    passwd entry{};
    passwd* found = nullptr;
    if (getpwnam_r(user.c_str(), &entry, buffer.data(), buffer.size(), &found) != 0 || !found) return false;
    account.Uid = found->pw_uid;
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

}  // namespace velmora
