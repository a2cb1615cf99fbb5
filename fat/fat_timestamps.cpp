#include "fat/fat_timestamps.h"

#include "base/filetime.h"
#include "fat/fat_dir_entry.h"

namespace dunmere {
uint64_t FatDateTimeToFileTime(uint16_t date, uint16_t time, uint32_t milliseconds) {
  const int day = date & 0x1F;
  const int month = (date >> 5) & 0x0F;
  const int year = (date >> 9) + 1980;
  const int second = (time & 0x1F) * 2;
  const int minute = (time >> 5) & 0x3F;
  const int hour = time >> 11;
  if (!IsCalendarDay(year, month, day) || hour > 23 || minute > 59 || second > 59 || milliseconds > 999) return 0;
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
