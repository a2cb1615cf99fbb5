#pragma once
// The folders the deep FAT scan has met, and where each one hangs: its own
// ".." entry, else the folder its entry was found in, else the root. It keeps
// the folders' records (spilled beyond a first share), joins folders' later
// clusters found apart to the folders themselves, gives every folder its
// depth, and at the end writes the folders that lead to found files,
// "LostFolder<n>" for those whose own entry was never found.
#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <unordered_map>

#include "engine/found_item.h"
#include "engine/result_store.h"
#include "fat/continuations.h"
#include "fat/deep/scan_limits.h"
#include "fat/deep/spill.h"
#include "fat/deep/volume_guesses.h"

namespace dunmere {

class FatFolderTree {
 public:
  static constexpr uint32_t kNoParent = UINT32_MAX;
  // Reads `bytes` bytes from absolute sector `sector` into `out`; the bytes
  // read (0: none).
  using SectorReader = std::function<uint32_t(uint64_t sector, uint8_t* out, uint32_t bytes)>;

  FatFolderTree(const FatVolumeGuesses& guesses, DeepFatStats& stats, SectorReader read)
      : guesses_(guesses), stats_(stats), read_(std::move(read)) {}

  // Forgets every folder; the root is cluster 2 until told otherwise.
  void Reset(std::string spillPath);
  // The medium's sector size, for reading "." pairs and filling records.
  void SetSectorSize(uint32_t bytes) { sectorSize_ = bytes; }
  // Deletes the records' spill file.
  void ClearRecords() { folderRecords_.Clear(); }
  // Once `stop` (if set) says so, no more "." pairs are read: a folder whose
  // ".." is not known yet hangs where its entry was found.
  void SetStop(std::function<bool()> stop) { stop_ = std::move(stop); }

  void SetRootCluster(uint32_t c) { rootCluster_ = c; }
  uint32_t RootCluster() const { return rootCluster_; }
  // Every volume's root is listed as the one root.
  uint32_t Normalize(uint32_t cluster) const { return IsRoot(cluster) ? rootCluster_ : cluster; }
  bool IsRoot(uint32_t cluster) const {
    return (cluster & kFatClusterMask) == 0 || cluster == rootCluster_ || guesses_.IsTaggedRoot(cluster);
  }

  FatFolderContinuations& Continuations() { return continuations_; }
  const FatFolderContinuations& Continuations() const { return continuations_; }

  // Folder `c`'s first sector names `up` in its "..".
  void LearnParent(uint32_t c, uint32_t up);
  // The parent a folder's ".." is already known to name; kNoParent otherwise.
  uint32_t KnownParent(uint32_t c) const;
  // A folder's entry, found in `parent` at `sector`; a later entry for the
  // same cluster replaces the earlier one.
  void AddFolder(uint32_t c, const FoundItemRecord& r, uint32_t parent, int guess, uint64_t sector);
  // A file was found in `dir`: the folders up to it are written at the end.
  void Reference(uint32_t dir, int guess, uint64_t sector);
  // Folders from the root down to this one, itself included (root: 0).
  uint32_t Depth(uint32_t cluster, int guess);

  // After the last sector: joins folders' later clusters, moves what was
  // found since record `firstRecord` under the final folders, and writes the
  // folders to `store` (none: nothing is written). Written once: the folders
  // are forgotten after.
  Status Finish(ResultStore* store, uint32_t firstRecord, uint16_t sourceTag);

  size_t ResidentBytes() const { return folderRecords_.ResidentBytes() + continuations_.MemoryBytes(); }

 private:
  struct FolderEntry {
    uint32_t slot = 0;  // the folder's record in folderRecords_
    int guess = FatVolumeGuesses::kNone;
    uint64_t sector = 0;
    uint32_t entryDir = 0;  // the directory its entry was found in
  };
  struct Referenced {
    int guess = FatVolumeGuesses::kNone;
    uint64_t sector = 0;
  };

  // The parent a folder's first sector names in "..", or kNoParent when that
  // sector is no "."/".." pair of this folder; fixed once known.
  uint32_t DotParent(uint32_t cluster, int guess);
  uint32_t ParentOf(uint32_t cluster, int guess);
  void JoinContinuations(ResultStore* store, uint32_t firstRecord);
  Status WriteFolders(ResultStore& store, uint16_t sourceTag);

  const FatVolumeGuesses& guesses_;
  DeepFatStats& stats_;
  SectorReader read_;
  std::function<bool()> stop_;
  uint32_t sectorSize_ = 512;
  uint32_t rootCluster_ = 2;
  std::unordered_map<uint32_t, FolderEntry> folders_;
  DeepFatSpill folderRecords_;
  std::map<uint32_t, Referenced> referenced_;
  std::unordered_map<uint32_t, uint32_t> parentOf_;
  std::unordered_map<uint32_t, uint32_t> depthOf_;
  FatFolderContinuations continuations_;
};

}  // namespace dunmere
