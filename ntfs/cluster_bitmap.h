#pragma once
// The volume's cluster allocation bitmap ($Bitmap): bit c is cluster c, least
// significant bit first, 1 = allocated. Both engines read it: the quick one
// for the free space the deep pass reads, both to tell a deleted file whose
// clusters the volume has given to another file since.
#include <cstdint>
#include <vector>

#include "base/status.h"
#include "ntfs/data_layout.h"
#include "ntfs/layout_stream.h"

namespace dunmere {

class ClusterBitmap {
 public:
  ClusterBitmap() = default;
  ClusterBitmap(std::vector<uint8_t> bits, uint32_t sectorsPerCluster, uint64_t sectorCount)
      : bits_(std::move(bits)), spc_(sectorsPerCluster ? sectorsPerCluster : 1), sectorCount_(sectorCount) {}
  bool Loaded() const { return !bits_.empty(); }
  uint64_t Bytes() const { return bits_.size(); }

  // Moves `start` (a sector relative to the partition) to the next free
  // cluster and gives the length of the free stretch there, in sectors.
  // Past the end: start = sectorCount, length 0. When no free cluster follows,
  // start stays and the length is 0.
  void NextFreeExtent(uint64_t& start, uint64_t& length) const;
  // Whether any of clusters [first, first + count) is allocated; clusters
  // past the bitmap count as free.
  bool AnyAllocated(uint64_t first, uint64_t count) const;
  // Whether any cluster of a deleted file's data is allocated again: what it
  // holds now is another file's (sparse runs have no clusters).
  bool TakenSince(const DataLayout& deletedData) const;

 private:
  bool Allocated(uint64_t c) const { return (bits_[c >> 3] >> (c & 7)) & 1; }
  std::vector<uint8_t> bits_;
  uint32_t spc_ = 1;
  uint64_t sectorCount_ = 0;
};

// The bitmap of a volume from its $Bitmap data (record 6), read through
// `read`: its first `bytes` bytes (at most the attribute's size; more than
// 4 GiB is damage), for a volume of `sectorCount` sectors.
Status ReadClusterBitmap(const DataLayout& bitmapData, uint32_t clusterBytes, uint64_t bytes,
                         const VolumeReader& read, uint32_t sectorsPerCluster, uint64_t sectorCount,
                         ClusterBitmap& out);

}  // namespace dunmere
