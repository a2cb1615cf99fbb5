#include "fat/continuations.h"

#include <algorithm>
#include <tuple>
#include <vector>

namespace dunmere {

namespace {
// Longer chains of joins than this are taken to be damage.
constexpr size_t kMaxChain = 4096;
}  // namespace

void FatFolderContinuations::Clear() {
  dirs_.clear();
  votes_.clear();
  joinedTo_.clear();
}

FatFolderContinuations::Dir* FatFolderContinuations::Track(uint32_t dir, int guess) {
  auto it = dirs_.find(dir);
  if (it == dirs_.end()) {
    // Past the bound nothing new is tracked: those clusters just stay apart.
    if (dirs_.size() >= maxTracked_) return nullptr;
    it = dirs_.emplace(dir, Dir{}).first;
    it->second.guess = guess;
  }
  return it->second.guess == guess ? &it->second : nullptr;
}

void FatFolderContinuations::OnEntry(uint32_t dir, int guess, uint32_t first, uint32_t clusters) {
  if (first < 2) return;
  Dir* d = Track(dir, guess);
  if (!d) return;
  if (!d->hasData) d->firstData = first;
  d->hasData = true;
  const uint64_t end = uint64_t(first) + std::max<uint32_t>(clusters, 1);
  d->dataEnd = uint32_t(std::min<uint64_t>(end, UINT32_MAX));
}

void FatFolderContinuations::OnEnd(uint32_t dir, int guess) {
  if (Dir* d = Track(dir, guess)) d->ended = true;
}

void FatFolderContinuations::MarkHeadless(uint32_t dir, int guess) {
  if (Dir* d = Track(dir, guess)) d->headless = true;
}

void FatFolderContinuations::VoteParent(uint32_t dir, uint32_t parent) {
  auto it = dirs_.find(dir);
  if (it == dirs_.end() || !it->second.headless || parent == dir) return;
  Vote& v = votes_[dir];
  if (v.count && v.parent != parent) v.split = true;
  v.parent = parent;
  ++v.count;
}

bool FatFolderContinuations::Reaches(uint32_t from, uint32_t to) const {
  uint32_t cur = from;
  for (size_t i = 0; i < kMaxChain; ++i) {
    if (cur == to) return true;
    auto it = joinedTo_.find(cur);
    if (it == joinedTo_.end()) return false;
    cur = it->second;
  }
  return true;  // too long a chain: treated as a loop
}

void FatFolderContinuations::Decide(const std::function<bool(uint32_t)>& isFolderStart, uint32_t maxGap) {
  auto joinable = [&](uint32_t x, const Dir& d) { return d.headless && !joinedTo_.count(x) && !isFolderStart(x); };
  // 1. The word of subfolders' ".." entries.
  for (const auto& [x, v] : votes_) {
    auto it = dirs_.find(x);
    if (v.split || it == dirs_.end() || !joinable(x, it->second) || Reaches(v.parent, x)) continue;
    joinedTo_.emplace(x, v.parent);
  }
  // 2. Data that goes on where an unfinished directory's data ended.
  struct Open {
    int guess;
    uint32_t dataEnd;
    uint32_t dir;
  };
  std::vector<Open> open;
  for (const auto& [c, d] : dirs_)
    if (!d.ended && d.hasData) open.push_back(Open{d.guess, d.dataEnd, c});
  auto key = [](const Open& o) { return std::make_tuple(o.guess, o.dataEnd, o.dir); };
  std::sort(open.begin(), open.end(), [&](const Open& a, const Open& b) { return key(a) < key(b); });
  struct Candidate {
    uint32_t gap, x, dir;
  };
  std::vector<Candidate> candidates;
  for (const auto& [x, d] : dirs_) {
    if (!d.hasData || !joinable(x, d)) continue;
    // The unfinished directory whose data ended last at or before this one's start.
    auto it = std::upper_bound(open.begin(), open.end(), std::make_tuple(d.guess, d.firstData, UINT32_MAX),
                               [&](const auto& v, const Open& o) { return v < key(o); });
    // Skip itself: its own data starts where it ends only when it is empty.
    while (it != open.begin() && std::prev(it)->dir == x) --it;
    if (it == open.begin()) continue;
    const Open& best = *std::prev(it);
    if (best.guess != d.guess || d.firstData - best.dataEnd > maxGap) continue;
    // Two directories ending at the same place: no telling which goes on.
    auto lo = std::lower_bound(open.begin(), open.end(), std::make_tuple(best.guess, best.dataEnd, 0u),
                               [&](const Open& o, const auto& v) { return key(o) < v; });
    auto hi = std::upper_bound(open.begin(), open.end(), std::make_tuple(best.guess, best.dataEnd, UINT32_MAX),
                               [&](const auto& v, const Open& o) { return v < key(o); });
    if (hi - lo - std::count_if(lo, hi, [dir = x](const Open& o) { return o.dir == dir; }) != 1) continue;
    candidates.push_back(Candidate{d.firstData - best.dataEnd, x, best.dir});
  }
  std::sort(candidates.begin(), candidates.end(),
            [](const Candidate& a, const Candidate& b) { return std::tie(a.gap, a.x) < std::tie(b.gap, b.x); });
  std::unordered_map<uint32_t, bool> followed;  // a directory's end is followed by one cluster only
  for (const Candidate& c : candidates) {
    if (followed[c.dir] || joinedTo_.count(c.x) || Reaches(c.dir, c.x)) continue;
    followed[c.dir] = true;
    joinedTo_.emplace(c.x, c.dir);
  }
}

uint32_t FatFolderContinuations::Resolve(uint32_t dir) const {
  uint32_t cur = dir;
  for (size_t i = 0; i < kMaxChain; ++i) {
    auto it = joinedTo_.find(cur);
    if (it == joinedTo_.end()) return cur;
    cur = it->second;
  }
  return dir;
}

size_t FatFolderContinuations::MemoryBytes() const {
  // Node-based maps: the entry plus about two pointers of overhead each.
  const size_t node = 2 * sizeof(void*) + sizeof(size_t);
  return dirs_.size() * (sizeof(std::pair<uint32_t, Dir>) + node) +
         votes_.size() * (sizeof(std::pair<uint32_t, Vote>) + node) +
         joinedTo_.size() * (sizeof(std::pair<uint32_t, uint32_t>) + node);
}

}  // namespace dunmere
