#pragma once
// The quick scan of a FAT12/16/32 volume: walks the directory tree from the
// root, following deleted entries too, and reports deleted files, everything
// inside deleted folders, and the folders that lead to them.
#include <array>
#include <chrono>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "engine/content_check.h"
#include "engine/stop_poll.h"
#include "engine/store_engine.h"
#include "fat/continuations.h"
#include "fat/quick/deleted_folder_ends.h"
#include "fat/fat_boot_sector.h"
#include "fat/fat_entry_cache.h"
#include "fat/fat_names.h"
#include "storage/sector_source.h"

namespace dunmere {

class QuickFatEngine : public QuickStoreEngine {
 public:
  // Whether the first sector of a file's data is plausible for its extension
  // (lower case, no dot). Until a signature test is supplied every content is
  // accepted.

  QuickFatEngine() = default;
  ~QuickFatEngine() override;

  Status Open(const Medium& medium, uint16_t sourceTag) override;
  Status Scan(const std::string* earlierLog) override;
  Status ReadContent(const FoundItemRecord& record, const ContentSink& sink) override;
  Status LoadAllocationBitmap() override;
  // Positions and lengths in sectors of the medium, relative to the partition.
  // Returns 1 with the extent (length 0 at the end), like the other quick engine.
  Status NextFreeExtent(uint64_t& startSector, uint64_t& lengthSectors) override;

  bool WalkedDeletedDirectoryAt(uint64_t mediumByte) const override;
  bool FirstDataSector(const FoundItemRecord& r, uint64_t& sector) override {
    return FatRecordFirstSector(r, source_.UnitSize(), sector);
  }
  uint32_t CollectUnreadable(UnreadableSectors& into) const override {
    into.Merge(source_.Unreadable());
    return source_.UnitSize();
  }

  // The look through free clusters for lost folders reads at most this many
  // bytes (a quick scan of a large card stays quick); what lies beyond is
  // left to the deep scan, and LeftMoreForDeepScan() says so.
  static constexpr uint64_t kDefaultLostReadLimit = 256ull << 20;
  void SetLostFolderReadLimit(uint64_t bytes) { lostReadLimit_ = bytes; }
  bool LeftMoreForDeepScan() const override { return lostSearchCut_; }
  void LeaveLostFoldersToDeepPass() override { lostLook_ = false; }
  // Bytes the last scan's look for lost folders read (for the benchmarks).
  uint64_t LostFolderBytesRead() const { return lostBytesRead_; }

  // The hook for the content check and the FAT32 high-word search.
  void SetContentCheck(ContentCheck check) { contentCheck_ = std::move(check); }

  const FatVolumeGeometry& Geometry() const { return geometry_; }
  bool IsOpened() const { return opened_; }

 protected:
  uint32_t RootId() const override { return geometry_.RootId(); }

 private:
  struct FolderInfo {
    FoundItemRecord record;
    uint32_t parent = 0;
    uint32_t depth = 0;  // folders from the root to this one, itself included
    bool deleted = false;
    // A lost folder (no entry names it any more) hangs at the root; its ".."
    // still names the folder it was in.
    bool lost = false;
    uint32_t up = 0;
  };
  struct LostFolder {
    uint32_t up = 0;                      // what its ".." names
    std::array<uint8_t, 32> dot{};        // its "." entry: the folder's times
  };
  enum class WalkEnd { kGoOn, kEndOfDirectory };

  Status OpenOn(uint64_t startSector, uint64_t sectorCount, uint16_t tag);
  // Byte offset on the medium where what this engine may read ends.
  uint64_t MediumEnd() const;
  Status ReadBytes(uint64_t offset, uint32_t length, uint8_t* out, uint32_t& got) const;
  // Whether the directory entry a file record was made from is marked deleted.
  bool EntryMarkedDeleted(const FoundItemRecord& record) const;
  void WalkDirectory(uint32_t cluster);
  WalkEnd WalkEntries(const uint8_t* buf, size_t len, uint64_t bufOffset, uint32_t dirCluster, uint32_t depth,
                      bool parentDeleted);
  void ReportFolder(ByteView entry, const std::string& name, uint32_t dirCluster, uint32_t depth, bool deleted);
  void ReportFile(ByteView entry, const std::string& name, uint32_t dirCluster, uint32_t depth, uint64_t entryOffset);
  void MarkAncestors(uint32_t dirCluster);
  // The data cluster holding a byte of the medium; false outside the data area.
  bool ClusterAt(uint64_t mediumByte, uint32_t& cluster) const;
  // After an earlier log is loaded: the deleted folders' clusters its entries
  // came from, so that a resumed deep scan skips them as a fresh one does.
  void RecallDeletedWalked();
  void RecallIfDeletedWalked(const FoundItemRecord& r);
  // Deleted folders left open: each takes at most one more cluster, in the
  // order of their last clusters. False when none was open.
  bool ContinueOpenFolders();
  // Deleted folders no walk reaches (the entry that named them was reused):
  // the free clusters are read once, in long runs, for the "." and ".." pair
  // that opens a folder; those not walked are queued as "LostFolder<n>" at
  // the root, a folder whose own folder is lost too before it. False when
  // none is left to queue.
  bool FindLostFolders();
  // The look itself, fills lost_; at most lostReadLimit_ bytes are read.
  void SearchFreeClustersForFolders();
  // Entries of a cluster the look read whole: a lost folder's first
  // (`headless` false) or a later cluster of some folder.
  void NoteEntries(uint32_t self, ByteView entries, bool headless);
  // After the look: later clusters joined to folders by their subfolders' ".." and by data.
  void JoinLaterClusters();
  // The cluster that goes on the open folder `ends[i]`: the first free one
  // after its last that reads as entries, is nobody's yet and whose content
  // does not tie it to another open folder; 0 when none is found.
  uint32_t FindContinuation(const std::vector<OpenFolderEnd>& ends, size_t i);
  // A cluster's bytes, read ahead with the clusters after it; empty on a read error.
  ByteView LookAheadCluster(uint32_t cluster);
  // The cluster after the data of an entry, following the deleted-data rule.
  uint32_t DataEnd(uint32_t first, uint64_t size, bool isDirectory);
  bool DotPairFits(const uint8_t* buf, size_t len, uint32_t self, uint32_t parent) const;
  uint32_t SearchHighWord(ByteView entry, bool isDirectory, std::string_view extension);
  int ContentPlausible(uint32_t cluster, std::string_view extension);
  ContentSample Sample(std::string_view extension, ByteView first, uint32_t cluster) const;
  FoundItemRecord BaseRecord(ByteView entry, uint32_t cluster) const;

  SectorSource source_;
  FatVolumeGeometry geometry_;
  FatEntryCache cache_;
  bool opened_ = false;
  uint16_t sourceTag_ = 0;

  std::set<uint32_t> pending_;
  std::unordered_set<uint32_t> walked_;
  std::unordered_set<uint32_t> claimed_;  // later clusters of deleted folders, once taken
  std::unordered_set<uint32_t> deletedWalked_;  // deleted folders' clusters read as entries
  std::vector<OpenFolderEnd> open_;       // deleted folders whose last cluster was full
  std::map<uint32_t, LostFolder> lost_;   // by first cluster
  // Folders' later clusters the look read whole (entries, no "."/".."), and
  // what joins them to their folders, as the deep engine joins them.
  std::unordered_set<uint32_t> headless_;
  std::unordered_map<uint32_t, uint32_t> listedIn_;  // a subfolder's first cluster -> the later cluster listing it
  FatFolderContinuations joins_{size_t(1) << 16};
  std::unordered_map<uint32_t, std::vector<uint32_t>> laterOf_;  // a folder -> its joined later clusters, in order
  std::unordered_map<uint32_t, uint32_t> nextAfter_;              // a cluster -> the later cluster joined after it
  bool lostSearched_ = false;
  bool lostLook_ = true;
  bool lostSearchCut_ = false;  // the limit ended the look before the last free cluster
  uint64_t lostReadLimit_ = kDefaultLostReadLimit;
  uint64_t lostBytesRead_ = 0;
  std::vector<uint8_t> lookAhead_;         // clusters from lookAheadFirst_ on
  uint32_t lookAheadFirst_ = 0;
  uint32_t lookAheadCount_ = 0;
  uint64_t lookAheadBytes_ = 0;           // read so far looking for folders' later clusters
  // The walk's stop question: asked every so often, true for good once the
  // callback answered non-zero.
  bool StopAsked() { return walk_.Stopped(); }
  WalkStopPoll walk_;
  // The last entry with data met in the directory being walked.
  bool walkHasData_ = false;
  uint32_t walkLastData_ = 0;
  uint64_t walkLastSize_ = 0;
  bool walkLastIsDir_ = false;
  std::unordered_map<uint32_t, FolderInfo> folders_;
  std::vector<uint32_t> marked_;
  std::unordered_set<uint32_t> markedSet_;
  std::vector<uint8_t> clusterBuf_;
  std::vector<uint8_t> readBuf_;
  LongNameAssembler lfn_;
  uint8_t lfnChecksum_ = 0;

  std::vector<uint8_t> bitmap_;  // bit per cluster number, 1 = in use
  ContentCheck contentCheck_;
};

}  // namespace dunmere
