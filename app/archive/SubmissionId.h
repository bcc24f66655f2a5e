// A submission's id: UUID version 7 (48 bits of Unix milliseconds, then random bits), so ids sort
// by the time they were made and the archive's key index grows at its end.
#pragma once

#include <cstdint>
#include <string>

namespace velmora {

// "xxxxxxxx-xxxx-7xxx-yxxx-xxxxxxxxxxxx" for the given time, lower-case hex.
std::string NewSubmissionId(int64_t unixMs);

// The time an id was made, or -1 when text is no UUID version 7.
int64_t SubmissionIdTime(const std::string& text);

int64_t UnixMillis();

}  // namespace velmora
