#include "exfat/exfat_boot_sector.h"

#include <algorithm>

namespace dunmere {

using namespace exfat_boot;

uint64_t ExfatGeometry::EndByteOffset() const {
  const uint64_t own = VolumeOffset() + volumeLength * bytesPerSector;
  const uint64_t area = (partitionStart + areaSectors) * deviceSectorSize;
  return areaSectors ? std::min(own, area) : own;
}

Status ParseExfatBootSector(ByteView b, ExfatGeometry& g) {
  if (!b.Has(0, 512) || !b.Equals(kName, "EXFAT   ")) return kInvalidData;
  for (size_t i = 0; i < kMustBeZeroBytes; ++i)
    if (b.U8(kMustBeZero + i) != 0) return kInvalidData;
  if (b.U8(kSignature) != 0x55 || b.U8(kSignature + 1) != 0xAA) return kInvalidData;
  // Only the major revision changes the layout.
  if (b.U8(kRevision + 1) != 1) return kInvalidData;
  const uint32_t bpsShift = b.U8(kBytesPerSectorShift), spcShift = b.U8(kSectorsPerClusterShift);
  if (bpsShift < 9 || bpsShift > 12 || spcShift > kExfatMaxClusterShift - bpsShift) return kInvalidData;
  const uint32_t fats = b.U8(kNumberOfFats);
  if (fats != 1 && fats != 2) return kInvalidData;

  const uint64_t volumeLength = b.U64(kVolumeLength);
  const uint32_t fatOffset = b.U32(kFatOffset), fatLength = b.U32(kFatLength);
  const uint32_t heap = b.U32(kClusterHeapOffset), clusters = b.U32(kClusterCount);
  const uint32_t root = b.U32(kRootCluster);
  const uint32_t bps = 1u << bpsShift;
  // The FATs lie after both boot regions and before the heap, and hold an
  // entry for every cluster (plus the two reserved ones).
  if (fatOffset < 2 * kExfatBootRegionSectors || fatLength == 0) return kInvalidData;
  if (uint64_t(fatOffset) + uint64_t(fatLength) * fats > heap) return kInvalidData;
  if (clusters == 0 || clusters > kExfatMaxClusterCount) return kInvalidData;
  if (uint64_t(fatLength) * bps < (uint64_t(clusters) + 2) * 4) return kInvalidData;
  // The heap fits in the volume.
  if (uint64_t(heap) + (uint64_t(clusters) << spcShift) > volumeLength) return kInvalidData;
  if (root < 2 || root > uint64_t(clusters) + 1) return kInvalidData;

  g.bytesPerSectorShift = bpsShift;
  g.sectorsPerClusterShift = spcShift;
  g.bytesPerSector = bps;
  g.sectorsPerCluster = 1u << spcShift;
  g.volumeLength = volumeLength;
  g.fatOffset = fatOffset;
  g.fatLength = fatLength;
  g.numberOfFats = fats;
  g.volumeFlags = b.U16(kVolumeFlags);
  g.secondFatActive = fats == 2 && (g.volumeFlags & 1) != 0;
  g.clusterHeapOffset = heap;
  g.clusterCount = clusters;
  g.rootCluster = root;
  g.serial = b.U32(kSerial);
  return kOk;
}

uint32_t ExfatBootChecksum(ByteView b) {
  uint32_t sum = 0;
  const uint8_t* p = b.data();
  for (size_t i = 0; i < b.size(); ++i) {
    if (i == kVolumeFlags || i == kVolumeFlags + 1 || i == kPercentInUse) continue;
    sum = ((sum & 1) ? 0x80000000u : 0) + (sum >> 1) + p[i];
  }
  return sum;
}

bool ExfatBootRegionChecksumOk(ByteView region, uint32_t bps) {
  if (bps < 512 || !region.Has(0, size_t(bps) * kExfatBootRegionSectors)) return false;
  const uint32_t sum = ExfatBootChecksum(region.Sub(0, size_t(bps) * 11));
  const size_t at = size_t(bps) * 11;
  for (size_t i = 0; i < bps; i += 4)
    if (region.U32(at + i) != sum) return false;
  return true;
}

bool IsExfatBootSector(ByteView first) {
  ExfatGeometry g;
  return ParseExfatBootSector(first, g) == kOk;
}

bool ExfatRecordFirstSector(const FoundItemRecord& r, uint32_t sectorSize, uint64_t& sector) {
  // A deep scan numbers folders by itself, not by cluster.
  if (r.isFolder || r.clusterBytes == 0 || r.clusterBytes == kNoClusterSize || sectorSize == 0) return false;
  // The heap's start is kept in the medium's sectors; cluster numbers use all 32 bits.
  const uint32_t cluster = r.itemId;
  if (cluster < 2 || r.size == 0) return false;
  sector = r.partitionStart + r.dataAreaStart + uint64_t(cluster - 2) * r.clusterBytes / sectorSize;
  return true;
}

}  // namespace dunmere
