#include "ntfs/data_layout.h"

#include <algorithm>

namespace dunmere {

Status BuildDataLayout(std::vector<AttributeView> pieces, uint64_t totalClusters, uint32_t clusterBytes,
                       DataLayout& out) {
  out = DataLayout{};
  std::sort(pieces.begin(), pieces.end(),
            [](const AttributeView& a, const AttributeView& b) { return a.lowestVcn < b.lowestVcn; });
  pieces.erase(std::unique(pieces.begin(), pieces.end(),
                           [](const AttributeView& a, const AttributeView& b) { return a.lowestVcn == b.lowestVcn; }),
               pieces.end());
  if (pieces.empty() || pieces.front().lowestVcn != 0 || !pieces.front().nonResident || clusterBytes == 0)
    return kInvalidData;
  const AttributeView& first = pieces.front();
  out.realSize = first.realSize;
  out.initializedSize = std::min(first.initializedSize, first.realSize);
  out.encrypted = (first.flags & kAttrFlagEncrypted) != 0;
  out.compressed = (first.flags & kAttrFlagCompressed) != 0;
  if (out.compressed) {
    if (first.compressionUnit == 0 || first.compressionUnit > 8) return kInvalidData;
    out.compressionUnitClusters = 1u << first.compressionUnit;
  }
  uint64_t nextVcn = 0;
  for (const AttributeView& p : pieces) {
    if (!p.nonResident || p.lowestVcn != nextVcn) return kInvalidData;
    std::vector<DataRun> runs;
    if (Status s = DecodeRunList(p.runList, runs)) return s;
    size_t before = out.extents.size();
    if (Status s = PlaceRuns(runs, p.lowestVcn, totalClusters, out.extents)) return s;
    uint64_t clusters = 0;
    for (size_t i = before; i < out.extents.size(); ++i) clusters += out.extents[i].count;
    // An empty file has no runs and a highest VCN of -1.
    if (clusters == 0 && p.highestVcn + 1 == p.lowestVcn) continue;
    if (p.highestVcn < p.lowestVcn || p.highestVcn - p.lowestVcn + 1 != clusters) return kInvalidData;
    nextVcn = p.lowestVcn + clusters;
  }
  unsigned __int128 covered = (unsigned __int128)nextVcn * clusterBytes;
  if (covered < out.realSize) return kInvalidData;
  return kOk;
}

}  // namespace dunmere
