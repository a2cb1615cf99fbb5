#pragma once
// The whole layout of a non-resident attribute, put together from its pieces
// (a file whose run list did not fit in one record has several, one per
// record, each starting at its own VCN).
#include <cstdint>
#include <vector>

#include "base/status.h"
#include "ntfs/mft_record.h"
#include "ntfs/run_list.h"

namespace dunmere {

struct DataLayout {
  uint64_t realSize = 0;
  uint64_t initializedSize = 0;  // bytes past it read as zeros
  bool compressed = false;
  bool encrypted = false;
  uint32_t compressionUnitClusters = 0;  // when compressed
  std::vector<Extent> extents;           // in VCN order, without gaps
};

// `pieces` are the non-resident pieces of one attribute, in any order (a
// duplicate of a piece is dropped). 13 when the first piece (VCN 0) is
// missing, a piece's runs are damaged or do not match its VCN range, pieces
// leave a gap, or the clusters do not cover the attribute's size.
Status BuildDataLayout(std::vector<AttributeView> pieces, uint64_t totalClusters, uint32_t clusterBytes,
                       DataLayout& out);

}  // namespace dunmere
