// Files kept for reuse under a spare name instead of being deleted, and taken back by a rename:
// a busy folder then writes into existing inodes rather than allocating and freeing one per file.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "Streams.h"

namespace velmora {

// Renames from to to unless to already exists (then, as on any failure, false and nothing moved).
bool RenameNoReplace(const std::string& from, const std::string& to);

// Takes the file named spare by renaming it to temp (of two takers, one wins) and opens it for
// writing from its start, its old bytes still in place; size is its old size. Null when there is
// no such spare, or it is no plain file of its own (a link, or a second name, would be written
// through): such a file is left under temp for the sweep of unfinished files.
std::unique_ptr<THandleStream> TakeSpareFile(const std::string& spare, const std::string& temp, int64_t& size);

}  // namespace velmora
