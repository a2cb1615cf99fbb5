#pragma once
// Windows FILETIME (100 ns units since 1601-01-01 UTC), the time format of the
// found-item records and the resume entries.
#include <cstdint>
#include <ctime>

namespace dunmere {

inline constexpr uint64_t kFileTimeUnixEpoch = 116444736000000000ULL;

// Days from 1970-01-01 to y-m-d (proleptic Gregorian), for the on-disk
// formats that store a calendar date.
inline int64_t DaysFromCivil(int y, int m, int d) {
  y -= m <= 2;
  const int64_t era = (y >= 0 ? y : y - 399) / 400;
  const int64_t yoe = y - era * 400;
  const int64_t doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + doe - 719468;
}

// Whether y-m-d is a day of the calendar (month 1..12, day within it).
inline bool IsCalendarDay(int y, int m, int d) {
  static const int kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  if (m < 1 || m > 12 || d < 1) return false;
  const bool leap = (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
  return d <= kDays[m - 1] + (m == 2 && leap ? 1 : 0);
}

inline uint64_t FileTimeFromUnix(int64_t seconds, int64_t nanoseconds = 0) {
  int64_t ticks = seconds * 10000000LL + nanoseconds / 100;
  return uint64_t(int64_t(kFileTimeUnixEpoch) + ticks);
}

}  // namespace dunmere
