#include "ntfs/cluster_bitmap.h"

#include <algorithm>
#include <new>

namespace dunmere {

void ClusterBitmap::NextFreeExtent(uint64_t& start, uint64_t& length) const {
  length = 0;
  if (start >= sectorCount_) {
    start = sectorCount_;
    return;
  }
  const uint64_t clusters = uint64_t(bits_.size()) * 8;
  uint64_t c = start / spc_;
  if (c >= clusters) return;
  if (Allocated(c)) {
    uint64_t f = c + 1;
    while (f < clusters) {
      if ((f & 7) == 0 && bits_[f >> 3] == 0xFF) {
        f += 8;
        continue;
      }
      if (!Allocated(f)) break;
      ++f;
    }
    if (f >= clusters) return;
    start += (f - c) * spc_;
    c = f;
  }
  uint64_t e = c;
  while (e < clusters) {
    if ((e & 7) == 0 && bits_[e >> 3] == 0x00) {
      e += 8;
      continue;
    }
    if (Allocated(e)) break;
    ++e;
  }
  if (e > clusters) e = clusters;
  length = (e - c) * spc_;
  if (start >= sectorCount_)
    length = 0;
  else if (start + length > sectorCount_)
    length = sectorCount_ - start;
}

bool ClusterBitmap::TakenSince(const DataLayout& deletedData) const {
  for (const Extent& e : deletedData.extents)
    if (!e.sparse && AnyAllocated(e.lcn, e.count)) return true;
  return false;
}

Status ReadClusterBitmap(const DataLayout& bitmapData, uint32_t clusterBytes, uint64_t bytes,
                         const VolumeReader& read, uint32_t sectorsPerCluster, uint64_t sectorCount,
                         ClusterBitmap& out) {
  constexpr uint64_t kMaxBytes = uint64_t(1) << 32;
  const uint64_t want = std::min(bitmapData.realSize, bytes);
  if (want == 0 || want > kMaxBytes) return kInvalidData;
  std::vector<uint8_t> bits;
  try {
    bits.reserve(size_t(want));
  } catch (const std::bad_alloc&) {
    return kNoMemory;
  }
  Status s = StreamDataLayout(bitmapData, clusterBytes, read, [&](const uint8_t* d, size_t len) {
    size_t take = size_t(std::min<uint64_t>(len, want - bits.size()));
    bits.insert(bits.end(), d, d + take);
    return bits.size() >= want ? 1 : 0;
  });
  if (s != kOk && s != 1) return s;
  out = ClusterBitmap(std::move(bits), sectorsPerCluster, sectorCount);
  return kOk;
}

bool ClusterBitmap::AnyAllocated(uint64_t first, uint64_t count) const {
  const uint64_t clusters = uint64_t(bits_.size()) * 8;
  if (first >= clusters) return false;
  const uint64_t end = count > clusters - first ? clusters : first + count;
  for (uint64_t c = first; c < end;) {
    if ((c & 7) == 0 && c + 8 <= end) {
      if (bits_[c >> 3]) return true;
      c += 8;
      continue;
    }
    if (Allocated(c)) return true;
    ++c;
  }
  return false;
}

}  // namespace dunmere
