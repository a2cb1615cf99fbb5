#include "ntfs/cluster_bitmap.h"

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

}  // namespace dunmere
