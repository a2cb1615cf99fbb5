#include "exfat/exfat_fat.h"

#include <algorithm>
#include <unordered_set>
#include <utility>

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
  // Loops in short chains are met at once; a long chain (a file of gigabytes)
  // is checked for a repeat once followed, so the memory kept stays small.
  constexpr size_t kRemembered = 65536;
  std::unordered_set<uint32_t> seen;
  ExfatChainEnd end = ExfatChainEnd::kComplete;
  for (uint32_t c = first;;) {
    out.push_back(c);
    if (out.size() <= kRemembered) seen.insert(c);
    uint32_t next = 0;
    if (!read(c, next)) {
      end = ExfatChainEnd::kUnreadable;
      break;
    }
    if (out.size() >= want) {
      end = next == kExfatEndOfChain ? ExfatChainEnd::kComplete : ExfatChainEnd::kLonger;
      break;
    }
    if (next == kExfatEndOfChain) {
      end = ExfatChainEnd::kShort;
      break;
    }
    if (next == kExfatBadCluster) return ExfatChainEnd::kBad;
    if (next < 2 || next > maxCluster) return ExfatChainEnd::kOutOfRange;
    if (out.size() < kRemembered && seen.count(next)) return ExfatChainEnd::kLoop;
    // More clusters than the heap holds: one of them came twice.
    if (out.size() >= uint64_t(maxCluster) - 1) {
      out.push_back(next);
      break;
    }
    c = next;
  }
  if (out.size() > kRemembered) {
    std::vector<std::pair<uint32_t, size_t>> sorted;
    sorted.reserve(out.size());
    for (size_t i = 0; i < out.size(); ++i) sorted.push_back({out[i], i});
    std::sort(sorted.begin(), sorted.end());
    size_t firstRepeat = out.size();
    for (size_t i = 1; i < sorted.size(); ++i)
      if (sorted[i].first == sorted[i - 1].first) firstRepeat = std::min(firstRepeat, sorted[i].second);
    if (firstRepeat < out.size()) {
      out.resize(firstRepeat);
      return ExfatChainEnd::kLoop;
    }
  }
  return end;
}

}  // namespace dunmere
