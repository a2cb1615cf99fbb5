#include "fat/deep/volume_guess.h"

#include "fat/fat_boot_sector.h"

namespace dunmere {

uint64_t FatVolumeGuess::ClusterSector(uint32_t c) const {
  c &= kFatClusterMask;
  if (c < 2) return DataSector() >= rootSectors ? DataSector() - rootSectors : 0;
  return DataSector() + uint64_t(c - 2) * sectorsPerCluster;
}

bool FatVolumeGuess::ClusterOf(uint64_t s, uint32_t& c, uint64_t& first) const {
  if (sectorsPerCluster == 0 || !Covers(s)) return false;
  const uint64_t data = DataSector();
  if (s < data) {
    if (rootSectors == 0 || data < rootSectors || s < data - rootSectors) return false;
    c = 0;
    first = data - rootSectors;
    return true;
  }
  uint64_t index = (s - data) / sectorsPerCluster;
  if (index > 0xFFFFFFFDull) return false;  // no cluster number that large
  c = uint32_t(index + 2);
  first = data + index * sectorsPerCluster;
  return true;
}

bool FatVolumeGuess::StartsCluster(uint64_t s, uint32_t& c) const {
  uint64_t first = 0;
  return ClusterOf(s, c, first) && first == s;
}

std::optional<FatVolumeGuess> GuessFromDirectoryPair(uint32_t c1, uint64_t s1, uint32_t c2, uint64_t s2,
                                                     uint64_t areaStart) {
  // The larger cluster goes with the larger sector.
  const uint32_t a = c1 > c2 ? c1 : c2, b = c1 > c2 ? c2 : c1;
  const uint64_t big = s1 > s2 ? s1 : s2, small = s1 > s2 ? s2 : s1;
  if (a == b || b < 2) return std::nullopt;
  const uint64_t d = big - small;
  const uint64_t span = a - b;
  if (d % span) return std::nullopt;
  const uint64_t k = d / span;
  if (k == 0 || k > 128 || (k & (k - 1))) return std::nullopt;
  const uint64_t below = k * (b - 2);
  if (below > small) return std::nullopt;
  const uint64_t base = small - below;
  if (base < areaStart || base - areaStart > UINT32_MAX) return std::nullopt;
  FatVolumeGuess g;
  g.sectorsPerCluster = uint32_t(k);
  g.dataStart = uint32_t(base - areaStart);
  g.partitionStart = areaStart;
  // The pair only fits when the smaller cluster was also paired with the
  // smaller sector (a larger cluster never lies at a smaller sector).
  if (g.ClusterSector(c1) != s1 || g.ClusterSector(c2) != s2) return std::nullopt;
  return g;
}

std::optional<FatVolumeGuess> GuessFromBootSector(ByteView boot, uint64_t areaStart, uint64_t areaSectors,
                                                  uint32_t mediumSectorSize, uint32_t& rootCluster) {
  if (!boot.Has(0, 512) || mediumSectorSize == 0 || !IsFatBootSector(boot.Sub(0, 512))) return std::nullopt;
  FatVolumeGeometry geo;
  if (ReadFatGeometry(boot, areaStart, areaSectors, mediumSectorSize, geo) != kOk) return std::nullopt;
  // The volume's sectors in sectors of the medium.
  if (geo.bytesPerSector < mediumSectorSize || geo.bytesPerSector % mediumSectorSize) return std::nullopt;
  const uint64_t factor = geo.bytesPerSector / mediumSectorSize;
  FatVolumeGuess g;
  g.sectorsPerCluster = uint32_t(geo.sectorsPerCluster * factor);
  if (uint64_t(geo.dataStart) * factor > UINT32_MAX) return std::nullopt;
  g.dataStart = uint32_t(geo.dataStart * factor);
  g.partitionStart = areaStart;
  g.rootSectors = uint32_t(geo.rootDirSectors * factor);
  rootCluster = geo.fat32 ? geo.rootCluster : 0;
  g.rootCluster = rootCluster;
  g.endSector = areaStart + geo.volumeSectors * factor;
  return g;
}

uint64_t FirstFatSectorOf(ByteView boot, uint32_t mediumSectorSize) {
  if (!boot.Has(0, 512) || mediumSectorSize == 0 || !IsFatBootSector(boot.Sub(0, 512))) return 0;
  const uint32_t bps = boot.U16(11);
  if (bps < mediumSectorSize || bps % mediumSectorSize) return 0;
  return uint64_t(boot.U16(14)) * (bps / mediumSectorSize);
}

bool FatOpensForBoot(ByteView boot, ByteView fat) {
  if (!boot.Has(0, 512) || !fat.Has(0, 8)) return false;
  const uint8_t media = boot.U8(21);
  if (fat.U8(0) != media || fat.U8(1) != 0xFF) return false;
  // FAT12 packs the first two entries into three bytes, FAT16 into four, FAT32 into eight.
  const bool fat32 = boot.U16(17) == 0 && boot.U16(22) == 0;
  if (fat32) return fat.U8(2) == 0xFF && (fat.U8(3) & 0x0F) == 0x0F && fat.U8(4) == 0xFF && fat.U8(5) == 0xFF;
  return fat.U8(2) == 0xFF;
}

}  // namespace dunmere
