#include "fat/deep/pending_files.h"

namespace dunmere {

void FatPendingFiles::Reset(const DeepFatLimits& limits, std::string spillPath) {
  pending_.clear();
  records_.Reset(kRecordSize, limits.pendingInMemory, limits.pendingMax, std::move(spillPath));
}

bool FatPendingFiles::Add(const FoundItemRecord& r, uint32_t dirCluster, uint64_t dirSector) {
  uint32_t slot = 0;
  if (!records_.Add(reinterpret_cast<const uint8_t*>(&r), slot)) return false;
  pending_.push_back(Pending{dirSector, dirCluster, slot, false});
  return true;
}

void FatPendingFiles::PlaceWith(const FatVolumeGuess& g, int guess) {
  for (Pending& p : pending_)
    if (!p.placed && g.ClusterSector(p.dirCluster) == p.dirSector) Place(p, guess);
}

uint64_t FatPendingFiles::PlaceRest(const std::function<int(uint64_t)>& nearest) {
  uint64_t dropped = 0;
  for (Pending& p : pending_) {
    if (p.placed) continue;
    const int g = nearest(p.dirSector);
    if (g < 0 || !Place(p, g)) ++dropped;
  }
  pending_.clear();
  pending_.shrink_to_fit();
  records_.Clear();
  return dropped;
}

bool FatPendingFiles::Place(Pending& p, int guess) {
  FoundItemRecord r;
  if (!records_.Get(p.slot, reinterpret_cast<uint8_t*>(&r))) return false;
  p.placed = true;
  return write_(r, p.dirCluster, guess, p.dirSector);
}

}  // namespace dunmere
