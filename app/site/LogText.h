// Request text as it goes into a log line: a hostile client decides its length, so every value is
// cut to a sane length, marked as cut. (WriteLog itself blanks control bytes in every message.)
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace velmora {

// Bytes of one value kept in a log line; 200 posts of a few KB each would otherwise fill the log.
constexpr size_t LogValueLimit = 200;

// text cut after limit bytes (never inside a UTF-8 character) and then marked with how long it was.
std::string ForLog(std::string_view text, size_t limit = LogValueLimit);

}  // namespace velmora
