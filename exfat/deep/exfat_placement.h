#pragma once
// Where the entry sets the deep pass found belong: each in the volume whose
// heap holds it, in the folder whose clusters hold it. A folder's clusters
// are its run (first cluster on, as many as its data length needs) when it
// has no chain; a chained folder's are its chain where the volume's FAT
// still holds it, else its first cluster and the clusters right after it
// that hold sets too. A volume's root owns its chain (its first cluster
// where no FAT tells more), and every root whose bitmap and up-case entries
// were met owns its cluster. Sets in clusters no
// found folder owns go to "LostFolder<n>" (n: the first cluster of that run
// of directory clusters) at the top; sets outside every volume are listed
// by the stretch of the medium they were found in, without data. Pure: the
// FAT is asked through a callback.
#include <cstdint>
#include <functional>
#include <vector>

#include "exfat/deep/exfat_volumes.h"

namespace dunmere {

// What placement needs of a set.
struct ExfatPlacedSet {
  uint64_t at = 0;  // absolute byte of its file entry
  uint32_t firstCluster = 0;
  uint64_t dataLength = 0;
  uint64_t validDataLength = 0;
  bool directory = false;
  bool deleted = false;
  bool noFatChain = false;
};

// Entry `cluster` of volume `volume`'s FAT; false when it cannot be read.
using ExfatFatLookup = std::function<bool(int volume, uint32_t cluster, uint32_t& next)>;

struct ExfatPlacementInput {
  const std::vector<ExfatVolume>* volumes = nullptr;
  std::vector<ExfatPlacedSet> sets;  // sorted by `at`, each place once
  std::vector<uint64_t> roots;       // where root sectors with bitmap and up-case entries were met
  ExfatFatLookup fat;                // null: no FAT is read
  uint64_t mediumBytes = 0;
};

struct ExfatFolderNode {
  enum class Kind : uint8_t { kSet, kLost, kStretch };
  Kind kind = Kind::kSet;
  uint32_t parent = 0;    // the parent's id (kRootId for the top)
  uint32_t level = 0;     // the parent's depth: the root's is 0
  int volume = -1;
  uint32_t set = 0;       // kSet: index into the input's sets
  uint64_t number = 0;    // kLost: its first cluster; kStretch: the sector of its first set
  uint64_t at = 0;        // kLost: the byte its first cluster starts at; kStretch: its first set's
  bool deleted = false;   // it, a folder above it, or lost to a format
};

struct ExfatPlacedFile {
  uint32_t set = 0;
  uint32_t parent = 0;
  uint32_t level = 0;
  int volume = -1;
  bool deleted = false;  // the set, a folder above it, or lost to a format
};

struct ExfatPlacement {
  static constexpr uint32_t kRootId = 1;
  // Folder i has id kFirstFolderId + i.
  static constexpr uint32_t kFirstFolderId = 2;
  std::vector<ExfatFolderNode> folders;
  std::vector<ExfatPlacedFile> files;  // in the order of the sets
  uint64_t damaged = 0;      // sets passed over: clusters outside the heap, lengths no volume holds
  uint64_t duplicates = 0;   // folder sets of a cluster another folder's set already names
};

// Directories hold at most 256 MiB of entries.
inline constexpr uint64_t kExfatMaxDirectoryBytes = 256ull << 20;
// Folders nested deeper than this are a loop or damage: cut at the top.
inline constexpr uint32_t kExfatMaxDepth = 4096;

// `stop` (may be null): once true, no more of the FAT is read.
ExfatPlacement PlaceExfatSets(const ExfatPlacementInput& in, const std::function<bool()>& stop);

}  // namespace dunmere
