#pragma once
// The FAT part of the deep scan. It reads no sectors of its own accord: the
// deep-scan pass hands it every sector that looks like FAT directory data, in
// disk order. From boot sectors and "." entries it learns where FAT volumes
// lie (also volumes whose boot sector is gone, and every partition of a
// whole disk, whose clusters it keeps apart), rebuilds their folders and files, live or
// deleted, hangs folders whose own entry was never found under "LostFolder<n>",
// and reads a found file back as one contiguous run of clusters. Its records
// carry sourceKind 3 (kSourceDeepFat).
//
// Memory stays bounded on disks of any size: directory sectors that cannot be
// placed yet and file records waiting for a volume keep only a small index in
// memory; their bytes spill to hidden files in the scan folder beyond a first
// share, and past a hard limit further ones are dropped and counted (Stats()).
//
// The work is shared out: FatVolumeGuesses learns the volumes, FatNameTails
// joins long names cut by a sector's end, FatFolderTree places and writes the
// folders, FatPendingFiles keeps files that wait for a volume, and
// FatDirectoryFeed places the sectors and reads their entries; this class
// keeps the source and the log and writes the files.
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "engine/content_check.h"
#include "engine/deep_engine.h"
#include "engine/store_engine.h"
#include "fat/deep/directory_feed.h"
#include "fat/fat_boot_sector.h"
#include "fat/fat_entry_cache.h"
#include "fat/deep/folder_tree.h"
#include "fat/deep/name_tails.h"
#include "fat/deep/pending_files.h"
#include "fat/deep/scan_limits.h"
#include "fat/deep/volume_guesses.h"
#include "storage/sector_source.h"

namespace dunmere {

class DeepFatEngine : public StoreEngine, public DeepFileSystemEngine, private FatFoundEntries {
 public:
  using Limits = DeepFatLimits;
  using Stats = DeepFatStats;

  DeepFatEngine();
  ~DeepFatEngine() override;

  Status Open(const Medium& medium, uint16_t sourceTag) override;
  Status SetCallbacks(ScanProgressCallback progress, DataCallback data, void* user, int share) override {
    return StoreEngine::SetCallbacks(progress, data, user, share);
  }
  // The deep-scan pass drives the work: these do nothing.
  Status GetFolderPath(const FoundItemRecord* record, std::string& out) override;
  Status ReadContent(const FoundItemRecord& record, const ContentSink& sink) override;

  // --- Called by the deep-scan pass, in this order. Sector numbers are
  // absolute sectors of the source; `sector` holds one sector's bytes. ---
  // Empties every list and opens the log: `logName` empty gives a new
  // "Pro_Fat_<start>_<y><m><d><h><mm>" log, otherwise that log is reopened.
  Status BeginFatLog(const std::string& logName);
  // The first volume guess from the area's own boot sector; 0 or the read's error.
  Status SeedFromBootSector();
  // A FAT boot sector met by the pass (IsFatBootSector): a volume that starts
  // there, when its FAT opens where the sector says. A whole disk's partitions
  // are found so, and their fixed root areas placed.
  void OnBootSector(ByteView sector, uint64_t sectorNumber);
  // A sector whose first two entries are "." and ".." (IsDotPair).
  void OnDotPairSector(ByteView sector, uint64_t sectorNumber);
  // A sector that passes IsDirectoryCluster over its own length.
  void OnDirectorySector(ByteView sector, uint64_t sectorNumber);
  // After the last sector: places what waited and writes the folders. Asks
  // the progress callback about stopping; on a non-zero answer it cuts the
  // reading short (see the .cpp) and returns that answer.
  Status FinishFatScan();

  // The same steps as one of the deep pass's file-system engines.
  FoundItems& Results() override { return *this; }
  bool FirstDataSector(const FoundItemRecord& r, uint64_t& sector) override {
    return FatRecordFirstSector(r, source_.UnitSize(), sector);
  }
  ResultStore* Records() override { return Store(); }
  uint32_t RecordKind() const override;
  std::string_view LogPrefix() const override { return "Pro_Fat_"; }
  Status BeginPass(const std::string* earlierLog) override;
  // Boot sectors, "."/".." pairs and directory sectors; the directories the
  // quick pass already walked are taken but not read again (their files would
  // be listed twice, under lost folders).
  bool TakeSector(const DeepChunk& chunk, uint64_t i) override;
  Status FinishPass() override { return FinishFatScan(); }

  // Whether the first sector of a file's data fits its extension; unset,
  // every content is accepted.
  void SetContentCheck(ContentCheck check) override { contentCheck_ = std::move(check); }
  // Takes effect at the next BeginFatLog.
  void SetLimits(const Limits& limits) { limits_ = limits; }
  const Stats& GetStats() const { return stats_; }
  const std::vector<FatVolumeGuess>& Guesses() const { return guesses_.List(); }
  bool FirstGuessFromBootSector() const { return guesses_.FirstFromBootSector(); }
  uint32_t RootCluster() const { return tree_.RootCluster(); }
  // Memory held for sector copies, file records and long-name tails.
  size_t ResidentBytes() const;
  const std::string& LogName() const { return logName_; }

 protected:
  uint32_t RootId() const override { return tree_.RootCluster(); }

 private:
  Status OpenOn(uint64_t start, uint64_t count, uint16_t tag);
  Status ReadAbsolute(uint64_t sector, uint32_t bytes, uint8_t* out, uint32_t& got) const;
  Status FinishUnguarded();
  void ClearScanState();

  FoundItemRecord BaseRecord(ByteView entry, const std::string& name, uint32_t cluster, uint64_t sector) const;
  // The feed's entries: folders go to the folder tree, files to the log (or
  // to wait for their volume).
  void OnFolder(ByteView entry, const std::string& name, uint32_t parent, int guess, uint64_t sector) override;
  void OnFile(ByteView entry, const std::string& name, uint32_t dirCluster, int guess, uint64_t dirSector,
              uint64_t sector) override;
  bool WriteFile(FoundItemRecord record, uint32_t dirCluster, int guess, uint64_t dirSector);
  int ContentPlausible(const FoundItemRecord& r, int guess);

  // The FAT of the volume a record was placed in, where it can be read: a
  // boot sector at the record's partition start that describes the same
  // data area and clusters. Null otherwise (the volume was learned from its
  // folders, or formatted anew with another layout).
  struct VolumeFat {
    FatVolumeGeometry geometry;
    FatEntryCache fat;
  };
  VolumeFat* FatOf(const FoundItemRecord& record);
  // Whether the directory entry a file record was made from is marked deleted.
  bool EntryMarkedDeleted(const FoundItemRecord& record) const;

  SectorSource source_;
  bool opened_ = false;
  uint64_t start_ = 0;
  uint64_t count_ = 0;
  uint32_t sectorSize_ = 512;
  uint16_t sourceTag_ = 0;
  std::string logName_;
  std::string spillBase_;

  Limits limits_;
  Stats stats_;
  FatVolumeGuesses guesses_{limits_};
  FatFolderTree tree_;
  FatNameTails tails_{guesses_, tree_, limits_, stats_};
  FatPendingFiles pending_;
  FatDirectoryFeed feed_{guesses_, tree_, tails_, stats_, *this};
  uint32_t firstRecord_ = 1;  // the first record of this scan in the log

  ContentCheck contentCheck_;
  std::vector<uint8_t> readBuf_;
  std::map<uint64_t, std::unique_ptr<VolumeFat>> fats_;  // by partition start; null: none readable
  // Set while FinishFatScan runs: whether a stop was asked for.
  std::function<bool()> finishStop_;
};

}  // namespace dunmere
