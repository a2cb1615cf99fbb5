#pragma once
// Windows FILETIME (100 ns units since 1601-01-01 UTC), the time format of the
// found-item records and the resume entries.
#include <cstdint>
#include <ctime>

namespace dunmere {

inline constexpr uint64_t kFileTimeUnixEpoch = 116444736000000000ULL;

inline uint64_t FileTimeFromUnix(int64_t seconds, int64_t nanoseconds = 0) {
  int64_t ticks = seconds * 10000000LL + nanoseconds / 100;
  return uint64_t(int64_t(kFileTimeUnixEpoch) + ticks);
}

}  // namespace dunmere
