// HttpDate: a local date and time as an RFC 1123 date in GMT ("Sun, 06 Dec 2026 13:50:32 GMT"),
// for the Expires headers of responses that must not be cached.
#pragma once

#include <string>

#include "System.h"

namespace velmora {

// English day and month names whatever the locale; the offset to GMT comes from the C library's
// time-zone rules for that local time, daylight saving included when in effect.
std::string HttpDate(TDateTime localTime);

}  // namespace velmora
