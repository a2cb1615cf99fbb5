#include "exfat/exfat_timestamps.h"

#include "base/filetime.h"

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

uint64_t ExfatTimestampToFileTime(uint32_t stamp, uint8_t tenMs, uint8_t utcOffset) {
  static const int kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  const int second = int(stamp & 0x1F) * 2;
  const int minute = int(stamp >> 5) & 0x3F;
  const int hour = int(stamp >> 11) & 0x1F;
  const int day = int(stamp >> 16) & 0x1F;
  const int month = int(stamp >> 21) & 0x0F;
  const int year = int(stamp >> 25) + 1980;
  if (month < 1 || month > 12 || day < 1 || tenMs > 199) return 0;
  const int maxDay = kDays[month - 1] + (month == 2 && IsLeap(year) ? 1 : 0);
  if (day > maxDay || hour > 23 || minute > 59 || second > 59) return 0;
  int64_t secs = DaysFromCivil(year, month, day) * 86400 + hour * 3600 + minute * 60 + second + tenMs / 100;
  if (utcOffset & 0x80) {
    // Seven bits, two's complement: -64 .. 63 quarter hours east of UTC.
    const int quarters = (utcOffset & 0x40) ? int(utcOffset & 0x7F) - 128 : int(utcOffset & 0x7F);
    secs -= int64_t(quarters) * 15 * 60;
  }
  return FileTimeFromUnix(secs, int64_t(tenMs % 100) * 10000000);
}

ExfatTimes DecodeExfatTimes(ByteView e) {
  ExfatTimes t;
  t.created = ExfatTimestampToFileTime(e.U32(8), e.U8(20), e.U8(22));
  t.modified = ExfatTimestampToFileTime(e.U32(12), e.U8(21), e.U8(23));
  t.accessed = ExfatTimestampToFileTime(e.U32(16), 0, e.U8(24));
  return t;
}

}  // namespace dunmere
