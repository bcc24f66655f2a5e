// HttpDate: shifts a local TDateTime by the zone's bias and prints it with fixed English names.
// The names are tables, not the locale's, because HTTP dates must read the same everywhere.
#include "HttpDate.h"

#include <cmath>
#include <cstdio>

namespace velmora {

namespace {
constexpr const char* kDayNames = "SunMonTueWedThuFriSat";
constexpr const char* kMonthNames = "JanFebMarAprMayJunJulAugSepOctNovDec";
constexpr long long kMsPerDay = 86400000;
}  // namespace

std::string HttpDate(TDateTime localTime) {
    TDateTime gmt = localTime + LocalTimeBias(localTime) / 1440.0;
    // Work in whole milliseconds: a fraction such as 23:30 is not exact in binary, and decoding
    // it directly could print 23:29:59.
    long long ms = RoundToInteger(gmt * static_cast<double>(kMsPerDay));
    long long days = ms / kMsPerDay - (ms % kMsPerDay < 0 ? 1 : 0);
    long long msOfDay = ms - days * kMsPerDay;
    TDateParts date = DecodeDateTime(static_cast<TDateTime>(days));
    int secs = static_cast<int>(msOfDay / 1000);
    char out[64];
    std::snprintf(out, sizeof out, "%.3s, %02d %.3s %04d %02d:%02d:%02d GMT",
                  kDayNames + 3 * (date.DayOfWeek % 7), date.Day,
                  kMonthNames + 3 * ((date.Month + 11) % 12), date.Year, secs / 3600,
                  secs / 60 % 60, secs % 60);
    return out;
}

}  // namespace velmora
