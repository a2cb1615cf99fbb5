#pragma once
// The FAT volumes the deep scan has guessed so far, by index, and how it
// learns new ones: from the area's boot sector, or by pairing "." entries
// whose clusters and sectors fit one volume. Every cluster number the scan
// keeps is read under one of these guesses.
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <utility>
#include <vector>

#include "engine/found_item.h"
#include "fat/deep/scan_limits.h"
#include "fat/deep/volume_guess.h"

namespace dunmere {

class FatVolumeGuesses {
 public:
  static constexpr int kNone = -1;

  // `limits` bounds the guesses and the "." entries kept for pairing.
  explicit FatVolumeGuesses(const DeepFatLimits& limits) : limits_(limits) {}
  // Where the scanned area begins: no volume starts before it.
  void SetAreaStart(uint64_t sector) { areaStart_ = sector; }
  // Forgets every guess and observation.
  void Reset();
  // Told the index of each guess as it is added.
  void SetOnAdded(std::function<void(int)> onAdded) { onAdded_ = std::move(onAdded); }

  const std::vector<FatVolumeGuess>& List() const { return guesses_; }
  const FatVolumeGuess& operator[](int guess) const { return guesses_[size_t(guess)]; }
  // Sectors per cluster of a guess; 0 for kNone.
  uint64_t SectorsPerCluster(int guess) const { return guess != kNone ? guesses_[size_t(guess)].sectorsPerCluster : 0; }
  bool FirstFromBootSector() const { return bootGuess_; }

  // The first guess a boot sector gives is marked as such.
  void AddFromBootSector(const FatVolumeGuess& g);
  // A volume inside a bounded one before it takes that one's tag; another
  // gets the next tag (the last one is shared past 15).
  void Add(const FatVolumeGuess& g);
  // Whether a guess for the same volume is known already.
  bool Has(const FatVolumeGuess& g) const;
  // The number the scan keeps for cluster `c` of `guess`'s volume (kNone: `c`).
  uint32_t Key(int guess, uint32_t c) const {
    return guess != kNone ? (c & kFatClusterMask) | guesses_[size_t(guess)].tag : c;
  }
  // Whether `key` is the root directory of a volume other than the first.
  bool IsTaggedRoot(uint32_t key) const;
  // A folder's "." entry names cluster `c` at sector `s`: the guess this
  // pairing with an earlier one gives, if any (kNone otherwise).
  int Learn(uint32_t c, uint64_t s);

  // The guess under which cluster `c` starts at sector `s`.
  int FindAt(uint32_t c, uint64_t s) const;
  // The guess under which `s` lies inside cluster `c`.
  int FindContaining(uint32_t c, uint64_t s) const;
  // The guess whose data area starts nearest below `s`, passing over the
  // boot sector's when others exist; the first guess when none lies below.
  int FindNearestBelow(uint64_t s) const;
  // The first guess under which `s` starts a cluster or lies in the root area.
  bool Place(uint64_t s, int& guess, uint32_t& cluster) const;
  // Whether `s` starts a cluster of the data area under `guess`.
  bool StartsDataCluster(int guess, uint64_t s) const;
  // Cluster size and data area of `guess` into a record, in `sectorSize`-byte sectors.
  void FillRecord(FoundItemRecord& r, int guess, uint32_t sectorSize) const;

 private:
  const DeepFatLimits& limits_;
  uint64_t areaStart_ = 0;
  std::vector<FatVolumeGuess> guesses_;
  bool bootGuess_ = false;
  uint32_t nextTag_ = 1;
  std::deque<std::pair<uint32_t, uint64_t>> observations_;
  std::function<void(int)> onAdded_;
};

}  // namespace dunmere
