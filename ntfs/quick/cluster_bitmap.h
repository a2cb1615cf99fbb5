#pragma once
// The volume's cluster allocation bitmap ($Bitmap): bit c is cluster c, least
// significant bit first, 1 = allocated.
#include <cstdint>
#include <vector>

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

 private:
  bool Allocated(uint64_t c) const { return (bits_[c >> 3] >> (c & 7)) & 1; }
  std::vector<uint8_t> bits_;
  uint32_t spc_ = 1;
  uint64_t sectorCount_ = 0;
};

}  // namespace dunmere
