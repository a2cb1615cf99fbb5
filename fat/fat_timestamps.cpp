#include "fat/fat_timestamps.h"

#include "base/filetime.h"
#include "fat/fat_dir_entry.h"

namespace dunmere {
namespace {

bool IsLeap(int y) { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; }

// Days from 1970-01-01 to y-m-d (proleptic Gregorian).
int64_t DaysFromCivil(int y, int m, int d) {
  y -= m <= 2;
  const int64_t era = (y >= 0 ? y : y - 399) / 400;
  const int64_t yoe = y - era * 400;
  const int64_t doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + doe - 719468;
}

}  // namespace

uint64_t FatDateTimeToFileTime(uint16_t date, uint16_t time, uint32_t milliseconds) {
  static const int kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  const int day = date & 0x1F;
  const int month = (date >> 5) & 0x0F;
  const int year = (date >> 9) + 1980;
  const int second = (time & 0x1F) * 2;
  const int minute = (time >> 5) & 0x3F;
  const int hour = time >> 11;
  if (month < 1 || month > 12 || day < 1) return 0;
  int maxDay = kDays[month - 1] + (month == 2 && IsLeap(year) ? 1 : 0);
  if (day > maxDay || hour > 23 || minute > 59 || second > 59 || milliseconds > 999) return 0;
  int64_t secs = DaysFromCivil(year, month, day) * 86400 + hour * 3600 + minute * 60 + second;
  return FileTimeFromUnix(secs, int64_t(milliseconds) * 1000000);
}

FatTimestamps DecodeFatTimestamps(ByteView raw) {
  FatDirEntry e(raw);
  FatTimestamps t;
  uint32_t h = e.CreateHundredths();
  uint16_t ctime = e.CreateTime();
  uint32_t extraSecond = 0;
  if (h > 100) {
    extraSecond = h / 100;
    h %= 100;
  }
  t.created = FatDateTimeToFileTime(e.CreateDate(), ctime, (h / 10) * 10);
  // The odd second from the hundredths cannot be written into the 2-second
  // time word, so it is added to the result.
  if (t.created != 0 && extraSecond) t.created += uint64_t(extraSecond) * 10000000ULL;
  t.accessed = FatDateTimeToFileTime(e.AccessDate(), 0, 0);
  t.modified = FatDateTimeToFileTime(e.ModifyDate(), e.ModifyTime(), 0);
  return t;
}

}  // namespace dunmere
