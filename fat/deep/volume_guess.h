#pragma once
// Where a FAT volume's clusters lie, as the deep scan guesses it: from a boot
// sector (the area's first, or one the pass meets, as a whole disk's
// partitions), or from two subdirectories whose "."
// entries name their own first cluster at the sector where they were found.
// All sector numbers are absolute sectors of the medium.
#include <cstdint>
#include <optional>

#include "base/bytes.h"

namespace dunmere {

// Clusters of volumes in different places (partitions of a disk) are told
// apart by a tag in the top four bits of the number the scan keeps for them
// (FAT32 numbers use 28 bits); the first place's tag is 0, so on one
// partition the numbers are the clusters themselves.
inline constexpr uint32_t kFatClusterMask = 0x0FFFFFFF;
inline constexpr uint32_t kFatMaxVolumeTag = 15;

struct FatVolumeGuess {
  uint32_t sectorsPerCluster = 0;
  uint32_t dataStart = 0;       // sectors from the partition start to cluster 2
  uint64_t partitionStart = 0;  // absolute
  // The fixed root directory area just below the data area (FAT12/16); a
  // volume learned from its folders is taken to have the usual 32 sectors.
  uint32_t rootSectors = 32;
  // The root directory's cluster: a FAT32 boot sector's, 0 for the fixed
  // root area; a volume learned from its folders is taken to have it at 2.
  uint32_t rootCluster = 2;
  uint32_t tag = 0;  // the volume's tag, already shifted into the top bits
  // The first sector past the volume, as its boot sector gives it; 0 when
  // unknown (learned from folders). A partition's clusters never lie in the
  // next partition.
  uint64_t endSector = 0;

  bool Covers(uint64_t s) const { return endSector == 0 || s < endSector; }

  // Same volume, whatever the tag.
  bool SameVolume(const FatVolumeGuess& o) const {
    return sectorsPerCluster == o.sectorsPerCluster && DataSector() == o.DataSector() && rootSectors == o.rootSectors;
  }

  uint64_t DataSector() const { return partitionStart + dataStart; }
  // First sector of a cluster (a tag in its top bits is passed over); cluster
  // 0 (and 1) is the fixed root area.
  uint64_t ClusterSector(uint32_t cluster) const;
  // The cluster holding `sector` and that cluster's first sector; the root
  // area answers 0. False below the root area.
  bool ClusterOf(uint64_t sector, uint32_t& cluster, uint64_t& first) const;
  // Whether `sector` is the first sector of a cluster (the root area's first
  // sector counts as cluster 0).
  bool StartsCluster(uint64_t sector, uint32_t& cluster) const;
  bool operator==(const FatVolumeGuess&) const = default;
};

// The volume on which cluster c1 starts at sector s1 and c2 at s2, when one
// exists with a power-of-two cluster size of 1 to 128 sectors and a data area
// that begins at or after `areaStart` (the guess's partition start).
std::optional<FatVolumeGuess> GuessFromDirectoryPair(uint32_t c1, uint64_t s1, uint32_t c2, uint64_t s2,
                                                     uint64_t areaStart);

// The volume a boot sector describes, in sectors of `mediumSectorSize` bytes,
// with its root directory's cluster (0: the fixed root area). Nothing when
// the bytes are no usable FAT boot sector.
std::optional<FatVolumeGuess> GuessFromBootSector(ByteView boot, uint64_t areaStart, uint64_t areaSectors,
                                                  uint32_t mediumSectorSize, uint32_t& rootCluster);

// The medium sector, counted from the boot sector's own, where the first FAT
// of the volume `boot` describes begins (0: no usable boot sector).
uint64_t FirstFatSectorOf(ByteView boot, uint32_t mediumSectorSize);
// Whether `fat` opens as a FAT of the volume `boot` describes: its first
// entry repeats the media byte, the rest of the first two entries set. A
// boot sector met in the middle of a disk (a backup copy, one inside an image
// file) rarely has that at its own FAT's place.
bool FatOpensForBoot(ByteView boot, ByteView fat);

}  // namespace dunmere
