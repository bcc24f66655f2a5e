// The site's blocked words file, read and built into its automaton once per change of the file
// (size, time, inode) and shared by every post after, instead of being read by each post.
#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "BlockedWords.h"

namespace velmora {

// The words of a blocked words file: one word or phrase a line, blank lines and lines starting
// with "#" skipped; folded.
std::vector<std::string> BlockedWordsOf(std::string_view fileText);

// The words of the file at path, built for search; null with why set when the file cannot be read
// or is larger than 1 MiB.
std::shared_ptr<const TBlockedWords> BlockedWordsFile(const std::string& path, std::string& why);

}  // namespace velmora
