#include "scan/sector_dispatch.h"

#include <vector>

#include "fat/dir_entry_tests.h"
#include "fat/fat_boot_sector.h"

namespace dunmere {

bool SectorDispatcher::IsFileRecordSector(const uint8_t* sec) const {
  ByteView v(sec, sectorSize_);
  const uint32_t m = sectorSize_ > 512 ? sectorSize_ : 2 * sectorSize_;
  return v.Equals(0, "FILE") && v.U32(24) <= m && v.U32(28) == m && v.U16(48) == v.U16(510);
}

void SectorDispatcher::OnFileRecordSector(const uint8_t* chunk, uint64_t i, uint32_t sectors, uint64_t sector) {
  ByteView rec(chunk + i * sectorSize_, (sectors - i) * sectorSize_);
  // Folders are found through their files' parents.
  if (rec.U16(22) & 0x0002) return;
  std::vector<uint8_t> whole;
  if (rec.size() < 8192) {
    whole.resize(8192);
    uint32_t got = 0;
    (void)source_.ReadSectors(uint32_t(whole.size() / sectorSize_), whole.data(), sector, sectorSize_, got);
    if (got * uint64_t(sectorSize_) > rec.size()) rec = ByteView(whole.data(), size_t(got) * sectorSize_);
  }
  try {
    (void)ntfs_.ProcessFileRecord(rec, sector);
  } catch (...) {
    // A record that broke the parser is skipped; the pass goes on.
  }
}

uint64_t SectorDispatcher::DispatchChunk(const uint8_t* chunk, uint32_t sectors, uint64_t firstSector,
                                         CarveScanProgress& progress, bool& stopped) {
  uint64_t i = 0;
  uint64_t found = progress.filesFound;
  stopped = false;
  while (i < sectors) {
    uint64_t skip = 1;
    const uint8_t* sec = chunk + i * sectorSize_;
    ByteView view(sec, sectorSize_);
    if (IsFileRecordSector(sec)) {
      OnFileRecordSector(chunk, i, sectors, firstSector + i);
    } else if (IsFatBootSector(view)) {
      fat_.OnBootSector(view, firstSector + i);
    } else if (IsDotPair(view)) {
      if (!WalkedByQuickPass(firstSector + i)) fat_.OnDotPairSector(view, firstSector + i);
    } else if (IsDirectoryCluster(view)) {
      if (!WalkedByQuickPass(firstSector + i)) fat_.OnDirectorySector(view, firstSector + i);
    } else {
      Status s = carve_.CarveAtSector(sectorSize_, view, firstSector + i, progress, &source_, skip, found);
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
