#include "exfat/exfat_bitmap.h"

#include <algorithm>

namespace dunmere {

ExfatAllocationBitmap::ExfatAllocationBitmap(ByteView bits, uint32_t clusterCount) : clusterCount_(clusterCount) {
  const size_t bytes = (size_t(clusterCount) + 7) / 8;
  bits_.assign(bytes, 0xFF);
  std::copy_n(bits.data(), std::min(bytes, bits.size()), bits_.begin());
}

bool ExfatAllocationBitmap::InUse(uint64_t c) const {
  if (c < 2 || c > MaxCluster()) return true;
  return Bit(c - 2);
}

bool ExfatAllocationBitmap::AnyInUse(uint64_t first, uint64_t count) const {
  if (count == 0) return false;
  if (first < 2 || first > MaxCluster() || count > MaxCluster() - first + 1) return true;
  uint64_t i = first - 2;
  const uint64_t end = i + count;
  while (i < end) {
    if ((i & 7) == 0 && i + 8 <= end) {
      if (bits_[size_t(i >> 3)]) return true;
      i += 8;
      continue;
    }
    if (Bit(i)) return true;
    ++i;
  }
  return false;
}

uint32_t ExfatAllocationBitmap::NextFree(uint64_t c) const {
  if (c < 2) c = 2;
  for (; c <= MaxCluster(); ++c) {
    const uint64_t i = c - 2;
    if ((i & 7) == 0 && bits_[size_t(i >> 3)] == 0xFF && c + 8 <= MaxCluster() + 1) {
      c += 7;
      continue;
    }
    if (!Bit(i)) return uint32_t(c);
  }
  return 0;
}

uint64_t ExfatAllocationBitmap::RunEnd(uint64_t c) const {
  if (c < 2 || c > MaxCluster()) return MaxCluster() + 1;
  const bool state = Bit(c - 2);
  const uint8_t whole = state ? 0xFF : 0x00;
  for (++c; c <= MaxCluster(); ++c) {
    const uint64_t i = c - 2;
    if ((i & 7) == 0 && c + 8 <= MaxCluster() + 1 && bits_[size_t(i >> 3)] == whole) {
      c += 7;
      continue;
    }
    if (Bit(i) != state) return c;
  }
  return MaxCluster() + 1;
}

}  // namespace dunmere
