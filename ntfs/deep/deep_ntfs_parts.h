#pragma once
// What the deep NTFS engine's two halves share: the limits of the format and
// the reading of a record's first data run.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "base/bytes.h"
#include "ntfs/mft_record.h"
#include "ntfs/run_list.h"

namespace dunmere::deep_ntfs {

inline constexpr size_t kBootBytes = 4096;
inline constexpr size_t kPieceBytes = 65536;
inline constexpr uint32_t kFirstUserRecord = 12;              // records below are the system files
inline constexpr uint64_t kExtendRecord = 11;                 // the folder of the later system files
inline constexpr uint32_t kAliasFloor = 0xF0000000u;          // ids given to folders of further volumes
inline constexpr uint32_t kMaxClusterBytes = 2u << 20;        // the largest NTFS cluster
inline constexpr size_t kMaxListRecords = 4096;               // records one file's data may span
inline constexpr uint64_t kMaxFileBytes = uint64_t(1) << 48;  // 256 TiB, the NTFS file limit

inline bool IsPowerOfTwo(uint64_t v) { return v && !(v & (v - 1)); }

// Sectors per cluster of an attribute whose allocated size covers `clusters`
// clusters; 0 when the sizes do not give a plausible cluster.
inline uint32_t ClusterFromSizes(uint64_t allocated, uint64_t clusters, uint32_t sectorSize) {
  if (clusters == 0 || allocated == 0 || allocated % clusters) return 0;
  uint64_t cb = allocated / clusters;
  if (cb < sectorSize || cb > kMaxClusterBytes || !IsPowerOfTwo(cb) || cb % sectorSize) return 0;
  return uint32_t(cb / sectorSize);
}

// The unnamed non-resident $DATA piece at VCN 0 of a record, if any.
inline bool FirstDataPiece(ByteView rec, AttributeView& out) {
  AttributeWalker walk(rec);
  AttributeView a;
  while (walk.Next(a))
    if (a.type == kAttrData && a.nameLength == 0 && a.nonResident && a.lowestVcn == 0) {
      out = a;
      return true;
    }
  return false;
}

inline uint32_t SectorsPerClusterOf(const AttributeView& a, uint32_t sectorSize) {
  std::vector<DataRun> runs;
  if (DecodeRunList(a.runList, runs) != kOk) return 0;
  uint64_t clusters = 0;
  for (const DataRun& r : runs) clusters += r.count;
  return ClusterFromSizes(a.allocatedSize, clusters, sectorSize);
}

}  // namespace dunmere::deep_ntfs
