#include "ntfs/quick/mft_geometry.h"

namespace dunmere {

MftGeometry MftGeometry::FromBoot(const NtfsBootInfo& b, uint64_t partitionOffsetBytes) {
  MftGeometry g;
  g.bytesPerSector = b.bytesPerSector;
  g.sectorsPerCluster = b.sectorsPerCluster;
  g.clusterBytes = b.clusterBytes;
  g.recordBytes = b.recordBytes;
  g.sectorsPerRecord = b.recordBytes / b.bytesPerSector;
  g.partitionOffset = partitionOffsetBytes;
  g.partitionStart = partitionOffsetBytes / b.bytesPerSector;
  g.totalClusters = b.totalSectors / b.sectorsPerCluster + 1;
  g.mftStartSector = g.partitionStart + b.mftLcn * b.sectorsPerCluster;
  return g;
}

bool MftGeometry::RecordOffset(uint64_t n, uint64_t& off) const {
  if (n > (uint64_t(1) << 48)) return false;
  uint64_t byte = n * recordBytes;
  uint64_t vcn = byte / clusterBytes, within = byte % clusterBytes;
  for (const Extent& e : mftRuns) {
    if (vcn >= e.vcn && vcn - e.vcn < e.count) {
      if (e.sparse) return false;
      off = partitionOffset + (e.lcn + (vcn - e.vcn)) * clusterBytes + within;
      return true;
    }
  }
  return false;
}

uint64_t MftGeometry::SectorOfRecord(uint64_t n) const {
  uint64_t off;
  if (!RecordOffset(n, off)) return partitionStart;
  return off / bytesPerSector;
}

uint64_t MftGeometry::RecordCount() const { return ExtentClusters(mftRuns) * clusterBytes / recordBytes; }

}  // namespace dunmere
