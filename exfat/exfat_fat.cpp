#include "exfat/exfat_fat.h"

#include <unordered_set>

namespace dunmere {

bool DecodeExfatFatEntry(ByteView fat, uint64_t viewStart, uint32_t cluster, uint32_t& value) {
  const uint64_t at = uint64_t(cluster) * 4;
  if (at < viewStart || !fat.Has(size_t(at - viewStart), 4)) return false;
  value = fat.U32(size_t(at - viewStart));
  return true;
}

ExfatChainEnd FollowExfatChain(uint32_t first, uint64_t want, uint32_t maxCluster, const ExfatFatReader& read,
                               std::vector<uint32_t>& out) {
  out.clear();
  if (first < 2 || first > maxCluster) return ExfatChainEnd::kOutOfRange;
  if (want == 0) return ExfatChainEnd::kComplete;
  std::unordered_set<uint32_t> seen;
  uint32_t c = first;
  for (;;) {
    out.push_back(c);
    seen.insert(c);
    uint32_t next = 0;
    if (!read(c, next)) return ExfatChainEnd::kUnreadable;
    if (out.size() >= want) return next == kExfatEndOfChain ? ExfatChainEnd::kComplete : ExfatChainEnd::kLonger;
    if (next == kExfatEndOfChain) return ExfatChainEnd::kShort;
    if (next == kExfatBadCluster) return ExfatChainEnd::kBad;
    if (next < 2 || next > maxCluster) return ExfatChainEnd::kOutOfRange;
    if (!seen.insert(next).second) return ExfatChainEnd::kLoop;
    c = next;
  }
}

}  // namespace dunmere
