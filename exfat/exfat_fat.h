#pragma once
// The exFAT file allocation table: one 32-bit entry per cluster, naming the
// cluster that follows or marking the end. Files written in one piece need
// no chain (their stream extension says so) and their entries mean nothing.
#include <cstdint>
#include <functional>
#include <vector>

#include "base/bytes.h"

namespace dunmere {

inline constexpr uint32_t kExfatBadCluster = 0xFFFFFFF7u;
inline constexpr uint32_t kExfatEndOfChain = 0xFFFFFFFFu;

// Entry `cluster` from bytes of the FAT starting at FAT byte `viewStart`.
// False when the entry is not wholly inside the view.
bool DecodeExfatFatEntry(ByteView fat, uint64_t viewStart, uint32_t cluster, uint32_t& value);

// How a followed chain ended.
enum class ExfatChainEnd {
  kComplete,    // `want` clusters, and the last one's entry marks the end
  kLonger,      // `want` clusters, but the chain goes on past them
  kShort,       // the end mark came before `want` clusters
  kOutOfRange,  // an entry names no cluster of the heap (0, 1, past the last)
  kBad,         // an entry marks a bad cluster
  kLoop,        // an entry leads back to a cluster already in the chain
  kUnreadable,  // an entry could not be read
};

// Reads one FAT entry; false when it cannot be read.
using ExfatFatReader = std::function<bool(uint32_t cluster, uint32_t& value)>;

// Follows the chain from `first` until it holds `want` clusters or ends;
// `out` gets the clusters met, `first` included when it is a cluster of the
// heap (2 .. maxCluster). Never more than `want` steps, whatever the FAT says.
ExfatChainEnd FollowExfatChain(uint32_t first, uint64_t want, uint32_t maxCluster, const ExfatFatReader& read,
                               std::vector<uint32_t>& out);

}  // namespace dunmere
