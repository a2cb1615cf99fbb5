#include "exfat/exfat_timestamps.h"

#include "base/filetime.h"

namespace dunmere {
uint64_t ExfatTimestampToFileTime(uint32_t stamp, uint8_t tenMs, uint8_t utcOffset) {
  const int second = int(stamp & 0x1F) * 2;
  const int minute = int(stamp >> 5) & 0x3F;
  const int hour = int(stamp >> 11) & 0x1F;
  const int day = int(stamp >> 16) & 0x1F;
  const int month = int(stamp >> 21) & 0x0F;
  const int year = int(stamp >> 25) + 1980;
  if (!IsCalendarDay(year, month, day) || tenMs > 199 || hour > 23 || minute > 59 || second > 59) return 0;
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
