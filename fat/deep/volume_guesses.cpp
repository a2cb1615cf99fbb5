#include "fat/deep/volume_guesses.h"

#include <algorithm>

namespace dunmere {

void FatVolumeGuesses::Reset() {
  guesses_.clear();
  bootGuess_ = false;
  nextTag_ = 1;
  observations_.clear();
}

void FatVolumeGuesses::AddFromBootSector(const FatVolumeGuess& g) {
  if (guesses_.empty()) bootGuess_ = true;
  Add(g);
}

void FatVolumeGuesses::Add(const FatVolumeGuess& g) {
  if (guesses_.size() >= limits_.maxGuesses) return;
  // Volumes that share sectors (an old volume under the one formatted over
  // it) share a tag: their folders are the same clusters met either way. A
  // volume outside every bounded one before it (the next partition) gets
  // its own; the first is 0.
  uint32_t tag = 0;
  bool inside = false;
  const uint64_t at = g.endSector ? g.partitionStart : g.DataSector();
  for (const FatVolumeGuess& o : guesses_) {
    if (o.endSector && at >= o.partitionStart && at < o.endSector) {
      tag = o.tag;
      inside = true;
      break;
    }
  }
  if (!inside && g.endSector && !guesses_.empty()) tag = std::min(nextTag_++, kFatMaxVolumeTag) << 28;
  guesses_.push_back(g);
  guesses_.back().tag = tag;
  // Only the new volume can place what no earlier volume placed.
  if (onAdded_) onAdded_(int(guesses_.size() - 1));
}

bool FatVolumeGuesses::Has(const FatVolumeGuess& g) const {
  return std::any_of(guesses_.begin(), guesses_.end(), [&](const FatVolumeGuess& o) { return o.SameVolume(g); });
}

bool FatVolumeGuesses::IsTaggedRoot(uint32_t key) const {
  const uint32_t tag = key & ~kFatClusterMask, raw = key & kFatClusterMask;
  if (tag == 0) return false;
  return std::any_of(guesses_.begin(), guesses_.end(),
                     [&](const FatVolumeGuess& g) { return g.tag == tag && g.rootCluster == raw; });
}

int FatVolumeGuesses::Learn(uint32_t c, uint64_t s) {
  int found = kNone;
  if (guesses_.size() < limits_.maxGuesses) {
    for (const auto& [oc, os] : observations_) {
      if (auto g = GuessFromDirectoryPair(c, s, oc, os, areaStart_)) {
        Add(*g);
        found = FindAt(c, s);
        break;
      }
    }
  }
  observations_.emplace_back(c, s);
  while (observations_.size() > limits_.maxObservations) observations_.pop_front();
  return found;
}

int FatVolumeGuesses::FindAt(uint32_t cluster, uint64_t sector) const {
  for (size_t i = 0; i < guesses_.size(); ++i)
    if (cluster >= 2 && guesses_[i].Covers(sector) && guesses_[i].ClusterSector(cluster) == sector) return int(i);
  return kNone;
}

int FatVolumeGuesses::FindContaining(uint32_t cluster, uint64_t sector) const {
  for (size_t i = 0; i < guesses_.size(); ++i) {
    uint64_t first = guesses_[i].ClusterSector(cluster);
    if (guesses_[i].Covers(sector) && sector >= first && sector - first < guesses_[i].sectorsPerCluster) return int(i);
  }
  return kNone;
}

int FatVolumeGuesses::FindNearestBelow(uint64_t sector) const {
  if (guesses_.empty()) return kNone;
  int best = kNone;
  for (size_t i = (bootGuess_ ? 1 : 0); i < guesses_.size() && guesses_.size() > 1; ++i) {
    uint64_t d = guesses_[i].DataSector();
    if (d <= sector && guesses_[i].Covers(sector) && (best == kNone || d > guesses_[best].DataSector())) best = int(i);
  }
  return best == kNone ? 0 : best;
}

bool FatVolumeGuesses::Place(uint64_t s, int& guess, uint32_t& cluster) const {
  for (size_t i = 0; i < guesses_.size(); ++i) {
    uint64_t first = 0;
    uint32_t c = 0;
    if (!guesses_[i].ClusterOf(s, c, first)) continue;
    // A cluster's first sector, or anywhere in the fixed root area.
    if (first == s || c == 0) {
      guess = int(i);
      cluster = c;
      return true;
    }
  }
  return false;
}

bool FatVolumeGuesses::StartsDataCluster(int guess, uint64_t sector) const {
  uint32_t c = 0;
  return guess != kNone && size_t(guess) < guesses_.size() && guesses_[size_t(guess)].StartsCluster(sector, c) &&
         c >= 2;
}

void FatVolumeGuesses::FillRecord(FoundItemRecord& r, int guess, uint32_t sectorSize) const {
  const FatVolumeGuess& g = guesses_[size_t(guess)];
  r.clusterBytes = uint32_t(std::min<uint64_t>(uint64_t(sectorSize) * g.sectorsPerCluster, UINT32_MAX));
  r.dataAreaStart = g.dataStart;
  r.partitionStart = g.partitionStart;
}

}  // namespace dunmere
