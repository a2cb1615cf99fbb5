#pragma once
// File records the deep FAT scan found before it knew their volume: without
// one, a file's cluster cannot be turned into a sector. They wait here
// (beyond a first share on disk) until a volume is guessed on which their
// directory lies where it was found, or, at the end, for the nearest volume
// below them.
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "engine/found_item.h"
#include "fat/deep/scan_limits.h"
#include "fat/deep/spill.h"
#include "fat/deep/volume_guess.h"

namespace dunmere {

class FatPendingFiles {
 public:
  // Writes a file found in directory `dirCluster` (whose buffer began at
  // `dirSector`) under volume guess `guess`; false when it was not written.
  using Writer = std::function<bool(const FoundItemRecord& r, uint32_t dirCluster, int guess, uint64_t dirSector)>;

  explicit FatPendingFiles(Writer write) : write_(std::move(write)) {}

  void Reset(const DeepFatLimits& limits, std::string spillPath);
  // Deletes the spill file.
  void ClearSpill() { records_.Clear(); }

  // False when the record cannot be kept (past the limit).
  bool Add(const FoundItemRecord& r, uint32_t dirCluster, uint64_t dirSector);
  // A new volume guess, number `guess`: the files whose directory starts on
  // it where it was found are written.
  void PlaceWith(const FatVolumeGuess& g, int guess);
  // The rest, each under the guess `nearest` gives for its directory's
  // sector; then all are forgotten. Answers how many were not written.
  uint64_t PlaceRest(const std::function<int(uint64_t dirSector)>& nearest);

  size_t ResidentBytes() const { return records_.ResidentBytes() + pending_.capacity() * sizeof(Pending); }

 private:
  struct Pending {
    uint64_t dirSector = 0;  // first sector of the directory buffer
    uint32_t dirCluster = 0;
    uint32_t slot = 0;
    bool placed = false;
  };
  bool Place(Pending& p, int guess);

  Writer write_;
  std::vector<Pending> pending_;
  DeepFatSpill records_;
};

}  // namespace dunmere
