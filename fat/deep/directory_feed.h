#pragma once
// Turns the directory sectors the deep scan hands over into entries: places
// each sector in a directory (a "." pair names its own, a run of sectors goes
// on in its cluster, a volume guess places a cluster's first sector), joins
// long names cut by a sector's end, keeps the sectors no volume places yet
// and places them at the end. The folder and file entries it finds go to a
// FatFoundEntries; what they say about folders' data goes to the folder tree.
#include <cstdint>
#include <string>

#include "base/bytes.h"
#include "fat/deep/dir_buffer.h"
#include "fat/deep/folder_tree.h"
#include "fat/deep/name_tails.h"
#include "fat/deep/scan_limits.h"
#include "fat/deep/volume_guesses.h"

namespace dunmere {

// Directory sectors met one after another: the cluster they are read in.
struct FatDirRun {
  bool set = false;
  int guess = FatVolumeGuesses::kNone;
  uint32_t dirCluster = 0;  // the directory the run's entries belong to
  uint32_t cluster = 0;     // the cluster being read (0: the fixed root area)
  uint64_t first = 0;       // its first sector
  uint64_t lastSeen = 0;    // the last of its sectors handed over
  bool ended = false;

  // Whether sector `s` goes on with the run: a later sector of its cluster,
  // or the first of the next cluster after a cluster full of entries. The
  // run moves on to it.
  bool TakeNext(const FatVolumeGuesses& guesses, uint64_t s);
};

class FatFoundEntries {
 public:
  virtual ~FatFoundEntries() = default;
  // A folder's entry in directory `parent`, found at `sector`.
  virtual void OnFolder(ByteView entry, const std::string& name, uint32_t parent, int guess, uint64_t sector) = 0;
  // A file's entry in directory `dirCluster`, found at `sector` of the
  // directory buffer that began at `dirSector`.
  virtual void OnFile(ByteView entry, const std::string& name, uint32_t dirCluster, int guess, uint64_t dirSector,
                      uint64_t sector) = 0;
};

class FatDirectoryFeed {
 public:
  FatDirectoryFeed(FatVolumeGuesses& guesses, FatFolderTree& tree, FatNameTails& tails, DeepFatStats& stats,
                   FatFoundEntries& found)
      : guesses_(guesses), tree_(tree), tails_(tails), stats_(stats), found_(found) {}

  void SetSectorSize(uint32_t bytes) { sectorSize_ = bytes; }
  // Forgets the runs of sectors under way.
  void Reset();

  // A sector whose first two entries are "." and "..".
  void OnDotPairSector(ByteView sector, uint64_t s);
  // Any other sector of directory entries.
  void OnDirectorySector(ByteView sector, uint64_t s);
  // After the last sector: the kept sectors, in sector order, placed under
  // the volumes now known (else the nearest one below them); once `stop`
  // says so, the rest are dropped (counted as droppedUnclaimed).
  void PlaceKept(const std::function<bool()>& stop = {});

 private:
  class Sink;

  // Starts `run` at sector `s`, which `guess` places in `cluster` (first
  // sector `first`), and parses the sector.
  void StartRun(FatDirRun& run, ByteView sector, uint64_t s, int guess, uint32_t cluster, uint64_t first);
  // Starts a run where a volume guess places the sector; false when none does.
  bool StartRunByGuesses(FatDirRun& run, ByteView sector, uint64_t s);
  bool ContinueRun(FatDirRun& r, ByteView sector, uint64_t s);
  void ParseAndKeepTail(ByteView buf, const FatBufferPlace& place, FatDirRun* run);
  // Joins a waiting tail with the sector and parses them; false when none fits.
  bool JoinWithTail(ByteView sector, uint64_t s, FatDirRun* run);
  void PlaceUnclaimed(ByteView sector, uint64_t s);

  FatVolumeGuesses& guesses_;
  FatFolderTree& tree_;
  FatNameTails& tails_;
  DeepFatStats& stats_;
  FatFoundEntries& found_;
  uint32_t sectorSize_ = 512;
  FatDirRun run1_;  // sectors as they come
  FatDirRun run2_;  // kept sectors placed at the end
};

}  // namespace dunmere
