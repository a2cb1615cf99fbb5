// Run lists of non-resident attributes, decoded and placed on a volume.
#include <cstdint>
#include <vector>

#include "ntfs/run_list.h"

using namespace dunmere;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 9) return 0;
  // The first bytes choose where the runs start and how large the volume is.
  uint64_t startVcn = ByteView(data, 8).U64(0) >> (data[8] & 63);
  uint64_t totalClusters = data[8] & 0x80 ? 0 : (uint64_t(1) << (data[8] & 47));
  std::vector<DataRun> runs;
  (void)DecodeRunList(ByteView(data + 9, size - 9), runs);
  std::vector<Extent> extents;
  if (PlaceRuns(runs, startVcn, totalClusters, extents) == kOk) {
    uint64_t vcn = startVcn;
    for (const Extent& e : extents) {
      // Placed runs follow each other and stay inside the volume.
      if (e.vcn != vcn) __builtin_trap();
      if (totalClusters && !e.sparse && (e.lcn >= totalClusters || e.count > totalClusters - e.lcn)) __builtin_trap();
      vcn += e.count;
    }
  }
  (void)ExtentClusters(extents);
  return 0;
}
