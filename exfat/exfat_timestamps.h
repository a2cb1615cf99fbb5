#pragma once
// exFAT timestamps: the DOS date and time in one 32-bit value (two-second
// steps), a count of 10 ms added to it (0-199) and the zone the moment was
// written in (bit 7: the offset is known; bits 0-6: a signed count of 15
// minutes from UTC).
#include <cstdint>

#include "base/bytes.h"

namespace dunmere {

// FILETIME of a timestamp. A known zone makes it UTC, as NTFS times are; with
// none the local time is taken as it stands, as FAT's are. 0 when the date
// or time is no real moment, or the increment is out of range.
uint64_t ExfatTimestampToFileTime(uint32_t stamp, uint8_t tenMs, uint8_t utcOffset);

struct ExfatTimes {
  uint64_t created = 0;
  uint64_t modified = 0;
  uint64_t accessed = 0;
};
// The three times of a file directory entry (32 bytes).
ExfatTimes DecodeExfatTimes(ByteView fileEntry);

}  // namespace dunmere
