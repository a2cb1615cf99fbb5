#include "fat/fat_boot_sector.h"

#include "storage/boot_sector.h"

#include <algorithm>

namespace dunmere {

namespace {
bool PowerOfTwo(uint32_t v) { return v != 0 && (v & (v - 1)) == 0; }
// Below these counts of data clusters a FAT12/16 volume is FAT12, as the
// file system's own definition and every driver decide it.
constexpr uint32_t kFat12MaxClusters = 4084;
constexpr uint32_t kFixedRootSectors = 32;
}  // namespace

Status ReadFatGeometry(ByteView b, uint64_t partitionStart, uint64_t totalSectors, uint32_t deviceSectorSize,
                       FatVolumeGeometry& g) {
  g = FatVolumeGeometry{};
  if (!b.Has(0, 512) || deviceSectorSize == 0) return kInvalidData;
  g.partitionStart = partitionStart;
  g.totalSectors = totalSectors;
  g.deviceSectorSize = deviceSectorSize;
  g.bytesPerSector = b.U16(offsetof(FatBootSectorLayout, bytesPerSector));
  g.sectorsPerCluster = b.U8(offsetof(FatBootSectorLayout, sectorsPerCluster));
  g.reservedSectors = b.U16(offsetof(FatBootSectorLayout, reservedSectors));
  g.numberOfFats = b.U8(offsetof(FatBootSectorLayout, numberOfFats));
  g.rootEntryCount = b.U16(offsetof(FatBootSectorLayout, rootEntryCount));
  const uint32_t fat16Size = b.U16(offsetof(FatBootSectorLayout, sectorsPerFat16));
  const uint32_t total16 = b.U16(offsetof(FatBootSectorLayout, totalSectors16));
  const uint32_t total32 = b.U32(offsetof(FatBootSectorLayout, totalSectors32));

  if (g.bytesPerSector < 512 || g.bytesPerSector > 4096 || !PowerOfTwo(g.bytesPerSector)) return kInvalidData;
  if (!PowerOfTwo(g.sectorsPerCluster) || g.sectorsPerCluster > 128) return kInvalidData;
  if (g.reservedSectors == 0 || g.numberOfFats == 0) return kInvalidData;

  // A FAT32 parameter block has no 16-bit FAT size (drivers decide on this,
  // not on the type text, which is only a label).
  g.fat32 = fat16Size == 0;
  g.sectorsPerFat = g.fat32 ? b.U32(offsetof(FatBootSectorLayout, sectorsPerFat32)) : fat16Size;
  if (g.sectorsPerFat == 0) return kInvalidData;

  // Small volumes keep their size in the 16-bit field.
  uint64_t bootTotal = total16 ? total16 : total32;
  uint64_t areaBytes = totalSectors * deviceSectorSize;
  uint64_t areaSectors = areaBytes / g.bytesPerSector;
  g.volumeSectors = std::min<uint64_t>(bootTotal, areaSectors);

  uint64_t fatArea = uint64_t(g.numberOfFats) * g.sectorsPerFat;
  uint64_t dataStart = g.reservedSectors + fatArea;
  if (!g.fat32) {
    uint64_t rootSectors = (uint64_t(g.rootEntryCount) * 32 + g.bytesPerSector - 1) / g.bytesPerSector;
    g.rootDirSectors = uint32_t(rootSectors ? rootSectors : kFixedRootSectors);
    dataStart += g.rootDirSectors;
    g.rootCluster = 0;
  } else {
    g.rootCluster = b.U32(offsetof(FatBootSectorLayout, rootCluster)) & 0x0FFFFFFF;
  }
  if (dataStart >= g.volumeSectors || dataStart > UINT32_MAX) return kInvalidData;
  g.dataStart = uint32_t(dataStart);
  g.fatStart = g.reservedSectors;

  uint64_t clusters = (g.volumeSectors - g.dataStart) / g.sectorsPerCluster;
  if (clusters == 0) return kInvalidData;
  if (g.fat32) {
    g.type = FatType::kFat32;
  } else {
    // Count from the boot value, not the clipped one: a truncated image keeps its type.
    uint64_t bootClusters = bootTotal > g.dataStart ? (bootTotal - g.dataStart) / g.sectorsPerCluster : 0;
    g.type = bootClusters <= kFat12MaxClusters ? FatType::kFat12 : FatType::kFat16;
  }
  // The FAT itself bounds the cluster numbers it can describe.
  uint64_t fatBits = g.FatBytes() * 8;
  uint64_t entryBits = g.type == FatType::kFat12 ? 12 : g.type == FatType::kFat16 ? 16 : 32;
  uint64_t fatEntries = fatBits / entryBits;
  uint64_t maxByType = g.type == FatType::kFat12 ? 0xFF4 : g.type == FatType::kFat16 ? 0xFFF4 : 0x0FFFFFF5;
  if (fatEntries < 3) return kInvalidData;
  clusters = std::min<uint64_t>({clusters, fatEntries - 2, maxByType - 1});
  g.clusterCount = uint32_t(clusters);
  uint64_t declared = bootTotal > g.dataStart ? (bootTotal - g.dataStart) / g.sectorsPerCluster : 0;
  g.declaredClusters = uint32_t(std::max<uint64_t>(clusters, std::min<uint64_t>({declared, fatEntries - 2, maxByType - 1})));
  if (g.fat32 && !g.ValidCluster(g.rootCluster)) return kInvalidData;
  return kOk;
}

uint64_t ClusterToOffset(const FatVolumeGeometry& g, uint32_t cluster) {
  if (cluster == 0 && !g.fat32) return g.RootAreaOffset();
  return g.DataOffset() + uint64_t(cluster - 2) * g.ClusterBytes();
}

namespace {
bool IsEncryptedVolume(ByteView b) {
  if (b.Equals(3, "-FVE-FS-")) return true;
  if (!b.Equals(480, "xxxxxxxx")) return false;
  for (size_t i = 0; i < 19; ++i)
    if (b.U8(488 + i) != 0xFF) return false;
  return b.U8(507) == 0x00 && b.U8(508) == 0x1F && b.U8(509) == 0x2C;
}

bool Fat1216Test(ByteView b) {
  return b.U8(16) != 0 && (b.U16(19) != 0 || b.U32(32) != 0) && IsPow2Upto(b.U8(13), 128) && b.U16(22) >= 1 &&
         HasBootSignature(b);
}

// A small FAT32 volume (mkfs.fat with 4 KiB sectors, say) keeps its sector
// count in the 16-bit field, as FAT12/16 do; either field counts.
bool Fat32Test(ByteView b) {
  return b.Equals(82, "FAT32   ") && b.U8(16) != 0 && (b.U32(32) != 0 || b.U16(19) != 0) &&
         IsPow2Upto(b.U8(13), 128) &&
         b.U32(36) >= 1 && HasBootSignature(b);
}
}  // namespace

bool IsFatBootSector(ByteView b) {
  if (!b.Has(0, 512) || IsEncryptedVolume(b)) return false;
  uint32_t sectorsPerFat = b.U16(22) ? b.U16(22) : b.U32(36);
  uint32_t total = b.U32(32) ? b.U32(32) : b.U16(19);
  uint32_t bps = b.U16(11), spc = b.U8(13);
  if (bps == 0 || spc == 0 || bps % 512 != 0) return false;
  // Unsigned 32-bit arithmetic as the detector has always done it: an
  // underflow gives a huge count, which falls in the "not FAT" band.
  uint32_t clusters =
      (total - uint32_t(b.U16(17)) * 32u / bps - uint32_t(b.U8(16)) * sectorsPerFat - b.U16(14)) / spc;
  if (clusters < 65525) return Fat1216Test(b) || Fat32Test(b);
  if (clusters < 0x0FFFFFF0u) return Fat32Test(b) || Fat1216Test(b);
  return false;
}

bool FatRecordFirstSector(const FoundItemRecord& r, uint32_t sectorSize, uint64_t& sector) {
  if (r.clusterBytes == 0 || r.clusterBytes == kNoClusterSize || sectorSize == 0) return false;
  // The deep engine tags its folders' numbers with their volume in the top bits.
  const uint32_t cluster = r.itemId & 0x0FFFFFFF;
  if (cluster < 2) return false;
  sector = r.partitionStart + r.dataAreaStart + uint64_t(cluster - 2) * r.clusterBytes / sectorSize;
  return true;
}

}  // namespace dunmere
