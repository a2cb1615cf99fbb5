#pragma once
// Where the FILE records of a volume lie: the geometry from the boot sector
// and the $MFT's own run list, and the mapping of a record number to its place.
#include <cstdint>
#include <vector>

#include "ntfs/ntfs_boot_sector.h"
#include "ntfs/run_list.h"

namespace dunmere {

struct MftGeometry {
  uint32_t bytesPerSector = 512;
  uint32_t sectorsPerCluster = 1;
  uint32_t clusterBytes = 512;
  uint32_t recordBytes = 1024;
  uint32_t sectorsPerRecord = 2;
  uint64_t partitionOffset = 0;  // bytes from the start of the source
  uint64_t partitionStart = 0;   // the same in the file system's sectors
  uint64_t totalClusters = 0;
  uint64_t mftStartSector = 0;  // absolute
  std::vector<Extent> mftRuns;

  static MftGeometry FromBoot(const NtfsBootInfo& boot, uint64_t partitionOffsetBytes);
  // Byte offset from the start of the source of record n; false when n lies
  // beyond the $MFT's runs (or in a sparse run).
  bool RecordOffset(uint64_t n, uint64_t& byteOffset) const;
  // Absolute sector of record n: the record's own sector, or the partition's
  // first sector (which fails the FILE test) when n is beyond the $MFT.
  uint64_t SectorOfRecord(uint64_t n) const;
  // Records the $MFT's runs hold.
  uint64_t RecordCount() const;
};

}  // namespace dunmere
