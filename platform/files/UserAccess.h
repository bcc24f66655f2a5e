// What another account may do with a file, from the file's owner, group and permission bits and
// the account's groups: for velmora-ini check, which runs as root or as the site's owner and must
// answer for the web server's account.
#pragma once

#include <string>

namespace velmora {

enum TAccess : unsigned { acRead = 4, acWrite = 2, acSearch = 1 };

// Whether user (an account name) may access path as want (a sum of TAccess) by its permission
// bits. Access lists and read-only mounts are not looked at. False with why filled when the
// account or the file does not exist.
bool UserMayAccess(const std::string& path, const std::string& user, unsigned want, std::string& why);

// The name of the account this process runs as ("" when it has none).
std::string CurrentUserName();

// Makes, writes, renames and removes a file in folder (in the nearest folder above that exists,
// when it does not) as user would: for real in a child that becomes the account when this process
// runs as root, in this process when it is that account, else by the permission bits. 0, or the
// errno of the step that failed (ESRCH: no such account).
int TryWritingAs(const std::string& folder, const std::string& user);

// The primary group of user; false when there is no such account.
bool UserGroup(const std::string& user, unsigned& group);

}  // namespace velmora
