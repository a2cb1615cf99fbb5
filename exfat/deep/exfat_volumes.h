#pragma once
// Where exFAT volumes lie, as the deep scan guesses it: from a boot sector
// the pass met (the main region's or the backup twelve sectors on), or, for
// a volume whose boot regions are gone, from its root directory: the root's
// up-case entry keeps the checksum of the table's bytes, and the place where
// bytes of that checksum lie fixes the cluster size and the heap.
// Byte offsets are absolute offsets on the medium.
#include <cstdint>
#include <optional>
#include <vector>

#include "base/bytes.h"
#include "exfat/deep/exfat_dir_sector.h"
#include "exfat/exfat_boot_sector.h"
#include "exfat/exfat_dir_entry.h"

namespace dunmere {

struct ExfatVolume {
  ExfatGeometry g;             // partitionStart in sectors of the medium
  bool fromBoot = true;        // false: learned from its root directory
  // The root's bitmap entry, when its own root cluster was found.
  bool haveBitmap = false;
  ExfatDataEntry bitmap;

  uint64_t HeapStart() const { return g.HeapByteOffset(); }
  uint64_t HeapEnd() const { return g.HeapByteOffset() + g.HeapBytes(); }
  bool HeapHolds(uint64_t byte) const { return byte >= HeapStart() && byte < HeapEnd(); }
  // The cluster holding a byte of the heap.
  uint32_t ClusterAt(uint64_t byte) const { return uint32_t((byte - HeapStart()) / g.ClusterBytes() + 2); }
  // The same volume, met again (its backup region, or the area's own boot sector).
  bool Same(const ExfatVolume& o) const {
    return g.partitionStart == o.g.partitionStart && g.clusterHeapOffset == o.g.clusterHeapOffset &&
           g.ClusterBytes() == o.g.ClusterBytes() && g.clusterCount == o.g.clusterCount;
  }
};

// The volume a boot sector met at byte `at` belongs to. It heads a boot
// region, the main one (the volume starts at `at`) or the backup (twelve of
// its sectors before). Where the twelve sectors can be read their checksum
// must agree. Which region it is: the partition offset the sector names,
// else where the FAT opens as a FAT does, else the main one.
// `mediumSectorSize`: the medium's sectors, in which partitionStart is given.
std::optional<ExfatVolume> ExfatVolumeFromBootSector(ByteView sector, uint64_t at, uint32_t mediumSectorSize,
                                                     uint64_t mediumBytes, const ExfatByteReader& read);

// A volume learned from its root directory, whose first cluster starts at
// byte `rootAt` and holds these bitmap and up-case entries: the up-case
// table's bytes are looked for where each cluster size would put them;
// the place where they check out (nearest the root, tightest packed, as
// formatters lay out the bitmap, up-case table and root one after another)
// gives the heap. Nothing when no place checks out.
std::optional<ExfatVolume> ExfatVolumeFromRoot(uint64_t rootAt, const ExfatDataEntry& bitmap,
                                               const ExfatDataEntry& upcase, uint32_t mediumSectorSize,
                                               uint64_t mediumBytes, const ExfatByteReader& read);

// Adds `v` unless the same volume is there; its index either way. At most
// kMaxVolumes: -1 past them.
inline constexpr size_t kMaxExfatVolumes = 256;
int AddExfatVolume(std::vector<ExfatVolume>& volumes, const ExfatVolume& v);
// The volume whose heap holds `byte`: the one that starts last, when heaps
// overlap (a volume inside another's image file); -1 when none does.
int ExfatVolumeHolding(const std::vector<ExfatVolume>& volumes, uint64_t byte);

}  // namespace dunmere
