#pragma once
// Run lists of non-resident attributes: where each stretch of an attribute's
// clusters lies on the volume.
#include <cstdint>
#include <vector>

#include "base/bytes.h"
#include "base/status.h"

namespace dunmere {

// One decoded run: cluster count and the LCN relative to the previous run's
// start (the first run's is absolute). A sparse run has no LCN at all.
struct DataRun {
  uint64_t count = 0;
  int64_t lcnDelta = 0;
  bool sparse = false;
};

// A run placed on the volume: clusters [vcn, vcn + count) of the attribute lie
// at [lcn, lcn + count), or read as zeros when sparse.
struct Extent {
  uint64_t vcn = 0;
  uint64_t lcn = 0;
  uint64_t count = 0;
  bool sparse = false;
};

// Decodes the whole run list in `bytes` (from the run-list offset to the end
// of the attribute). 13 when a header overruns the bytes, a field is wider than
// 8 bytes, a count is 0 or the list has no end marker; the runs decoded before
// the fault are kept in `out`.
Status DecodeRunList(ByteView bytes, std::vector<DataRun>& out);

// Places runs starting at `startVcn`, checking that every LCN stays inside a
// volume of `totalClusters` (0: not checked; kDataPastEnd when one does not)
// and that nothing overflows.
Status PlaceRuns(const std::vector<DataRun>& runs, uint64_t startVcn, uint64_t totalClusters,
                 std::vector<Extent>& out);

// Clusters covered by the extents (their VCN span).
uint64_t ExtentClusters(const std::vector<Extent>& extents);

}  // namespace dunmere
