#pragma once
// The three text formats of sizes, dates and durations used by the lists and
// the progress displays, plus the ISO 8601 form the command line's JSON uses.
#include <cstdint>
#include <string>

namespace dunmere {

// "1023 Bytes", "1.00 KB", "1.50 MB", "2.00 GB", "1.00 TB" (binary units).
std::string FormatSize(int64_t bytes);
// A FILETIME as "2021-3-5 08:04:09" in UTC (month and day unpadded); empty
// for a value no calendar date can be made of (top bit set).
std::string FormatFileTime(uint64_t fileTime);
// "1 Hour 2 Min", "3 Min 4 Sec", "5 Sec".
std::string FormatDuration(int64_t seconds);
// "2021-03-05T08:04:09Z" (with ".1234567" when the time has a fraction);
// empty for 0 (no time recorded) and for values FormatFileTime refuses.
std::string FormatIso8601(uint64_t fileTime);

struct CivilTime {
  int64_t year;
  int month, day, hour, minute, second;
  uint32_t ticks;  // 100 ns units within the second
};
// UTC calendar fields of a FILETIME; false when the top bit is set.
bool FileTimeToCivil(uint64_t fileTime, CivilTime& out);

}  // namespace dunmere
