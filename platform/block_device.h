#pragma once
// Size and geometry of an open block device (or of a regular file standing in
// for one): the platform's answer to the drive-geometry and length requests.
#include <cstdint>
#include <string>

#include "base/status.h"

namespace dunmere {

struct BlockGeometry {
  uint32_t bytesPerSector = 512;
  uint64_t lengthBytes = 0;  // 0 when the length request failed
  uint64_t cylinders = 0;
  uint32_t tracksPerCylinder = 0;
  uint32_t sectorsPerTrack = 0;
  bool isBlockDevice = false;
};

// Fails only when neither the geometry nor the length can be learned.
Status QueryBlockGeometry(int fd, BlockGeometry& g);
// Asks the kernel to write cached data of mounted file systems back before a
// raw read of the device.
void FlushSystemCaches();

}  // namespace dunmere
