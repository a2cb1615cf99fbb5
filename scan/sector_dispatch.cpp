#include "scan/sector_dispatch.h"

namespace dunmere {

uint64_t SectorDispatcher::DispatchChunk(const uint8_t* chunk, uint32_t sectors, uint64_t firstSector,
                                         CarveScanProgress& progress, bool& stopped, const uint8_t* plain) {
  const DeepChunk view{chunk, sectors, firstSector, sectorSize_, &source_, quick_};
  uint64_t i = 0;
  uint64_t found = progress.filesFound;
  stopped = false;
  while (i < sectors) {
    uint64_t skip = 1;
    bool taken = false;
    for (DeepFileSystemEngine* e : engines_)
      if ((taken = e->TakeSector(view, i))) break;
    if (!taken) {
      ByteView sector(chunk + i * sectorSize_, sectorSize_);
      Status s = carve_.CarveAtSector(sectorSize_, sector, firstSector + i, progress, &source_, skip, found,
                                      plain && plain[i]);
      if (s == kStopRequested) {
        // The file being sized was not recorded: the scan stops before it, so
        // that a resumed scan carves it again.
        stopped = true;
        return i;
      }
    }
    i += skip ? skip : 1;
  }
  return i;
}

}  // namespace dunmere
