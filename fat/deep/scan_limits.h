#pragma once
// The bounds the deep FAT scan keeps to and what it counts while it runs,
// shared by the engine and the parts it is made of.
#include <cstddef>
#include <cstdint>

namespace dunmere {

struct DeepFatLimits {
  size_t unclaimedInMemory = 16384;  // sector copies kept in memory
  uint64_t unclaimedMax = 1u << 20;  // in all, memory and spill file
  size_t pendingInMemory = 4096;     // file records kept in memory
  uint64_t pendingMax = 1u << 20;
  size_t maxTails = 256;          // unfinished long names
  size_t maxObservations = 4096;  // unplaced "." entries to pair
  size_t maxGuesses = 64;
};

struct DeepFatStats {
  uint64_t unclaimed = 0;         // sectors kept for the end
  uint64_t droppedUnclaimed = 0;  // past the limit
  uint64_t pending = 0;           // file records that waited for a volume
  uint64_t droppedPending = 0;    // past the limit, or no volume at the end
  uint64_t unplacedSectors = 0;   // kept sectors no volume could place
  uint64_t files = 0;
  uint64_t folders = 0;
  uint64_t lostFolders = 0;
  uint64_t joinedClusters = 0;  // later clusters of folders joined to them
};

}  // namespace dunmere
