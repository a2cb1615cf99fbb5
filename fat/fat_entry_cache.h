#pragma once
// Reading the first FAT through one window of at most 16 MiB, and following
// cluster chains of live and deleted files.
#include <cstdint>
#include <vector>

#include "base/bytes.h"
#include "base/status.h"
#include "fat/fat_boot_sector.h"

namespace dunmere {

class SectorSource;

// Decodes entry `cluster` from FAT bytes starting at FAT byte `viewStart`
// (FAT12 entries are packed 12-bit values). False when the entry is not
// wholly inside the view.
bool DecodeFatEntry(FatType type, ByteView fat, uint64_t viewStart, uint32_t cluster, uint32_t& value);
// Whether a decoded entry ends a chain (end-of-chain marks).
bool IsEndOfChain(FatType type, uint32_t value);

class FatEntryCache {
 public:
  static constexpr uint32_t kWindowBytes = 0x1000000;  // 16 MiB

  // Fills the window from the FAT start. The source must outlive the cache.
  Status Open(const SectorSource* source, const FatVolumeGeometry& geometry);
  bool IsOpen() const { return source_ != nullptr; }
  // The raw (masked) entry of a valid cluster number.
  Status Read(uint32_t cluster, uint32_t& value);
  // Whether the FAT marks the cluster free; false on a read error.
  bool IsFree(uint32_t cluster);

  // The cluster that follows `cluster`, or 0 at the end:
  // - a cluster the FAT links on: the linked cluster, 0 at an end mark or a
  //   number outside the volume;
  // - a free cluster (deleted data): the next cluster the FAT marks free,
  //   skipping clusters in use, 0 past the last cluster of the volume.
  uint32_t NextCluster(uint32_t cluster);

  // First sector of the window, relative to the FAT start (tests).
  uint64_t WindowSector() const { return windowStart_ / geometry_.bytesPerSector; }

 private:
  Status Fill(uint64_t fatByte);

  const SectorSource* source_ = nullptr;
  FatVolumeGeometry geometry_;
  std::vector<uint8_t> window_;
  uint64_t windowStart_ = 0;  // FAT byte of window_[0]
  size_t windowLen_ = 0;
};

}  // namespace dunmere
