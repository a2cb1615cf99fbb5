#include "scan/free_ranges.h"

#include <algorithm>

namespace dunmere {

void FreeRanges::Next(uint64_t& start, uint64_t& length) {
  // A quick engine that answers nothing, or past the area, ends the ranges
  // instead of looping on a stale length.
  length = 0;
  (void)quick_.NextFreeExtent(start, length);
  if (start >= areaLength_) {
    start = areaLength_;
    length = 0;
  } else {
    length = std::min(length, areaLength_ - start);
  }
}

uint64_t FreeRanges::Total() {
  uint64_t total = 0;
  for (uint64_t s = 0, l = 0;; s += l) {
    Next(s, l);
    if (l == 0) break;
    total += l;
  }
  return total;
}

}  // namespace dunmere
