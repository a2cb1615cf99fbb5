#include "exfat/quick/exfat_fat_cache.h"

#include <algorithm>

namespace dunmere {

void ExfatFatCache::Open(const ExfatGeometry& g, ReadFn read) {
  g_ = g;
  read_ = std::move(read);
  window_.clear();
  filled_ = false;
}

bool ExfatFatCache::Read(uint32_t cluster, uint32_t& value) {
  if (!read_ || !g_.ValidCluster(cluster)) return false;
  const uint64_t at = uint64_t(cluster) * 4;
  if (at + 4 > g_.FatBytes()) return false;
  if (!filled_ || !DecodeExfatFatEntry(ByteView(window_.data(), window_.size()), windowStart_, cluster, value)) {
    // The window starts at a 512-byte boundary at or before the entry.
    windowStart_ = at / 512 * 512;
    const uint64_t len = std::min<uint64_t>(kWindowBytes, (g_.FatBytes() - windowStart_ + 511) / 512 * 512);
    window_.assign(size_t(len), 0);
    uint32_t got = 0;
    filled_ = false;
    if (read_(g_.FatByteOffset() + windowStart_, uint32_t(len), window_.data(), got) != kOk) return false;
    window_.resize(got);
    filled_ = true;
    return DecodeExfatFatEntry(ByteView(window_.data(), window_.size()), windowStart_, cluster, value);
  }
  return true;
}

}  // namespace dunmere
