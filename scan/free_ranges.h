#pragma once
// The stretches a deep pass reads when the quick engine knows which clusters
// are free: its free extents, cut to the area.
#include <cstdint>

#include "engine/scan_engine.h"

namespace dunmere {

class FreeRanges {
 public:
  FreeRanges(ScanEngine& quick, uint64_t areaLength) : quick_(quick), areaLength_(areaLength) {}
  // The next free extent at or after `start`; length 0 when there is none.
  void Next(uint64_t& start, uint64_t& length);
  // Sectors in all the extents.
  uint64_t Total();

 private:
  ScanEngine& quick_;
  uint64_t areaLength_;
};

}  // namespace dunmere
