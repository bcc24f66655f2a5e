// Putting a file in place for an administrator's tool: a hard link or a copy renamed over the
// old file in one step, and handing a file to a user account. Used by `velmora-ini site`.
#pragma once

#include <string>

namespace velmora {

enum class TPlaced { Failed, Linked, Copied };

// Places `from` at `to` through a new name beside `to` renamed over it, so that a process running
// the old file is never cut short. With tryLink a hard link is made when both lie on one file
// system and from already has the mode asked for (a link shares owner and mode), else a copy
// with that mode.
TPlaced PlaceFile(const std::string& from, const std::string& to, unsigned mode, bool tryLink, std::string& error);

// Gives the path to the account and its primary group. False, with the reason, when the account
// does not exist or the change is refused.
bool GiveToUser(const std::string& path, const std::string& user, std::string& error);

// Sets the permission bits of an existing path.
bool SetMode(const std::string& path, unsigned mode);

}  // namespace velmora
