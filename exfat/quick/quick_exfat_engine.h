#pragma once
// The quick scan of an exFAT volume: walks the directory tree from the root,
// then every deleted folder met on the way, and reports deleted files,
// everything inside deleted folders, and the folders that lead to them.
// Listing, counting, search, copy-out and preview come from the store
// engine; this class adds how the volume is read.
#include <chrono>
#include <cstdint>
#include <deque>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "engine/content_check.h"
#include "engine/stop_poll.h"
#include "engine/store_engine.h"
#include "exfat/exfat_bitmap.h"
#include "exfat/exfat_boot_sector.h"
#include "exfat/exfat_dir_entry.h"
#include "exfat/exfat_upcase.h"
#include "exfat/quick/exfat_fat_cache.h"
#include "storage/sector_source.h"

namespace dunmere {

class QuickExfatEngine : public QuickStoreEngine {
 public:
  QuickExfatEngine();
  ~QuickExfatEngine() override;

  Status Open(const Medium& medium, uint16_t sourceTag) override;
  Status Scan(const std::string* earlierLog) override;
  Status ReadContent(const FoundItemRecord& record, const ContentSink& sink) override;
  Status LoadAllocationBitmap() override;
  // Free stretches of the cluster heap in sectors of the medium, relative to
  // the volume's start; returns 1 with the extent (length 0 at the end).
  Status NextFreeExtent(uint64_t& startSector, uint64_t& lengthSectors) override;
  bool WalkedDeletedDirectoryAt(uint64_t mediumByte) const override;
  // The medium sector of a file's first cluster, so that a carved copy of it is listed once.
  bool FirstDataSector(const FoundItemRecord& r, uint64_t& sector) override {
    return ExfatRecordFirstSector(r, source_.UnitSize(), sector);
  }
  uint32_t CollectUnreadable(UnreadableSectors& into) const override {
    into.Merge(source_.Unreadable());
    return source_.UnitSize();
  }

  void SetContentCheck(ContentCheck check) { contentCheck_ = std::move(check); }

  const ExfatGeometry& Geometry() const { return geometry_; }
  bool IsOpened() const { return opened_; }
  // The volume label from the root directory; empty when it has none.
  const std::string& Label() const { return label_; }
  // Which boot region the geometry came from, and whether its checksum held.
  bool UsedBackupBootRegion() const { return usedBackup_; }
  bool BootChecksumOk() const { return bootChecksumOk_; }
  // The up-case table was found and its checksum held.
  bool UpcaseTableOk() const { return upcase_.Loaded(); }

 protected:
  uint32_t RootId() const override { return geometry_.rootCluster; }

 private:
  // A folder to walk, or one walked: its first cluster is its id.
  struct FolderInfo {
    FoundItemRecord record;
    uint32_t parent = 0;
    uint32_t depth = 0;        // folders from the root to it, itself included
    bool deleted = false;      // it, or a folder above it, is deleted
    bool noFatChain = false;
    uint64_t dataLength = 0;
  };
  // A directory being read: its clusters, and its bytes from the entry being
  // looked at on (enough for the largest entry set).
  struct DirReader;

  Status OpenOn(uint64_t start, uint64_t count, uint16_t tag);
  Status ReadBootRegion(uint64_t volumeOffset);
  uint64_t MediumEnd() const;
  Status ReadBytes(uint64_t offset, uint32_t length, uint8_t* out, uint32_t& got) const;
  // The root's entries of the allocation bitmap, the up-case table and the label.
  void ReadRootEntries();
  void LoadUpcase(const ExfatDataEntry& e);
  // The bitmap, loaded once on first need; false when it cannot be read.
  bool EnsureBitmap();
  // Reads a table of the volume (bitmap, up-case) by its chain, or in one
  // piece when the chain does not hold.
  Status ReadTable(uint32_t first, uint64_t length, std::vector<uint8_t>& out);

  // The clusters a directory's entries lie in.
  std::vector<uint32_t> DirectoryClusters(uint32_t first, uint64_t length, bool noFatChain, bool deleted);
  // Clusters first .. first + count - 1.
  struct ClusterRun {
    uint32_t first;
    uint64_t count;
  };
  // Where the first `count` clusters of a file's data lie. A deleted file's
  // clusters the bitmap shows in use again are another file's now
  // (kDataOverwritten); a deleted file whose chain is gone went on in the
  // free clusters after its first, as it was written.
  Status DataRuns(uint32_t first, uint64_t count, bool noFatChain, bool deleted, std::vector<ClusterRun>& out);
  void WalkDirectory(uint32_t cluster, const FolderInfo* info);
  // Visits each entry set of a directory; false from `onSet` stops the walk.
  template <typename OnSet>
  void ForEachSet(DirReader& dir, OnSet&& onSet);
  bool SetAcceptable(ExfatSetState state, const ExfatFileSet& set) const;
  void OnFolder(const ExfatFileSet& set, ByteView fileEntry, uint32_t parent, uint32_t depth, bool parentDeleted,
                uint64_t streamOffset);
  void OnFile(const ExfatFileSet& set, ByteView fileEntry, uint32_t parent, uint32_t depth, uint64_t streamOffset);
  FoundItemRecord BaseRecord(const ExfatFileSet& set, ByteView fileEntry, uint64_t streamOffset) const;
  void MarkAncestors(uint32_t folder);
  int ContentPlausible(const ExfatFileSet& set, const std::string& name);
  bool StopAsked() { return walk_.Stopped(); }
  void RecallDeletedWalked();

  SectorSource source_;
  ExfatGeometry geometry_;
  ExfatFatCache fat_;
  bool opened_ = false;
  uint16_t tag_ = 0;
  bool usedBackup_ = false;
  bool bootChecksumOk_ = false;
  std::string label_;
  ExfatDataEntry bitmapEntry_;
  bool haveBitmapEntry_ = false;
  ExfatAllocationBitmap bitmap_;
  bool bitmapTried_ = false;
  ExfatUpcaseTable upcase_;
  ContentCheck contentCheck_;

  // The walk.
  std::deque<uint32_t> liveQueue_, deletedQueue_;
  std::unordered_map<uint32_t, FolderInfo> folders_;
  std::unordered_set<uint32_t> walked_;        // folders walked, by first cluster
  std::unordered_set<uint32_t> dirClusters_;   // clusters read as some folder's entries
  std::unordered_set<uint32_t> deletedWalked_; // those of deleted folders
  std::vector<uint32_t> marked_;
  std::unordered_set<uint32_t> markedSet_;
  WalkStopPoll walk_;
  std::vector<uint8_t> readBuf_;
};

}  // namespace dunmere
