#include "engine/scan_engine.h"

namespace dunmere {

Status ScanEngine::OpenImage(const std::string& path, uint16_t sourceTag) {
  Medium medium;
  if (Status s = OpenImageMedium(path, medium)) return s;
  return Open(medium, sourceTag);
}

Status ScanEngine::OpenPartition(uint32_t diskIndex, uint64_t startSector, uint64_t sectorCount,
                                 uint16_t sourceTag) {
  Medium medium;
  if (Status s = OpenDiskMedium(diskIndex, startSector, sectorCount, medium)) return s;
  return Open(medium, sourceTag);
}

}  // namespace dunmere
