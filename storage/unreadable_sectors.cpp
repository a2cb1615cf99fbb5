#include "storage/unreadable_sectors.h"

#include <algorithm>

namespace dunmere {

void UnreadableSectors::Add(uint64_t first, uint64_t count) {
  if (count == 0) return;
  uint64_t end = first + count;
  auto it = ranges_.upper_bound(first);
  if (it != ranges_.begin()) {
    auto prev = std::prev(it);
    if (prev->second >= first) {
      first = prev->first;
      end = std::max(end, prev->second);
      it = ranges_.erase(prev);
    }
  }
  while (it != ranges_.end() && it->first <= end) {
    end = std::max(end, it->second);
    it = ranges_.erase(it);
  }
  ranges_.emplace(first, end);
}

void UnreadableSectors::Merge(const UnreadableSectors& other) {
  for (const auto& [first, end] : other.ranges_) Add(first, end - first);
}

uint64_t UnreadableSectors::Bytes() const {
  uint64_t n = 0;
  for (const auto& [first, end] : ranges_) n += end - first;
  return n;
}

uint64_t UnreadableSectors::Count(uint32_t unit) const {
  if (unit == 0) return 0;
  uint64_t n = 0;
  for (const auto& [first, end] : ranges_) n += (end + unit - 1) / unit - first / unit;
  return n;
}

}  // namespace dunmere
