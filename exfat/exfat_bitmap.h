#pragma once
// The allocation bitmap: bit n (least significant first) tells whether
// cluster n + 2 is in use. Unlike FAT, exFAT decides allocation here, not in
// the FAT: a file whose clusters lie in one piece has no chain at all.
#include <cstdint>
#include <vector>

#include "base/bytes.h"

namespace dunmere {

class ExfatAllocationBitmap {
 public:
  ExfatAllocationBitmap() = default;
  // The first (clusterCount + 7) / 8 bytes of `bits`; a shorter bitmap leaves
  // the clusters it does not reach in use.
  ExfatAllocationBitmap(ByteView bits, uint32_t clusterCount);

  bool Loaded() const { return clusterCount_ != 0; }
  uint32_t ClusterCount() const { return clusterCount_; }
  // Clusters outside the heap count as in use: nothing of a file is there.
  bool InUse(uint64_t cluster) const;
  // Whether any of clusters [first, first + count) is in use.
  bool AnyInUse(uint64_t first, uint64_t count) const;
  // The first free cluster from `cluster` on; 0 when there is none.
  uint32_t NextFree(uint64_t cluster) const;
  // The first cluster from `cluster` on whose state differs from `cluster`'s
  // (MaxCluster() + 1 when none does): the end of the run it starts.
  uint64_t RunEnd(uint64_t cluster) const;
  uint64_t MaxCluster() const { return uint64_t(clusterCount_) + 1; }

 private:
  bool Bit(uint64_t index) const { return (bits_[size_t(index >> 3)] >> (index & 7)) & 1; }
  std::vector<uint8_t> bits_;
  uint32_t clusterCount_ = 0;
};

}  // namespace dunmere
