#pragma once
// FAT date and time words to FILETIME. The stored values are local time and
// are taken as they stand (no time-zone conversion).
#include <cstdint>

#include "base/bytes.h"

namespace dunmere {

struct FatTimestamps {
  uint64_t created = 0;
  uint64_t accessed = 0;
  uint64_t modified = 0;
};

// 0 when the date or time is not a real calendar moment (month 0, day 31 of
// a 30-day month, second 60, ...).
uint64_t FatDateTimeToFileTime(uint16_t date, uint16_t time, uint32_t milliseconds);
FatTimestamps DecodeFatTimestamps(ByteView entry);

}  // namespace dunmere
