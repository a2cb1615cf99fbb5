#pragma once
// The deep scan of NTFS: FILE records found anywhere on a disk (formatted,
// overwritten or lost volumes) become found items. The deep-scan pass hands
// each record to ProcessFileRecord; the engine works out which volume the
// record belongs to from the master file tables met so far, rebuilds the
// folders above it from their records, and makes the folder items when the
// pass ends ("LostFolder<n>" for a folder whose record is gone).
#include <algorithm>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <tuple>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "base/bytes.h"
#include "engine/content_check.h"
#include "engine/deep_engine.h"
#include "engine/store_engine.h"
#include "ntfs/cluster_bitmap.h"
#include "ntfs/deep/mft_map.h"
#include "ntfs/layout_stream.h"
#include "ntfs/record_summary.h"
#include "storage/sector_source.h"

namespace dunmere {


class DeepNtfsEngine : public StoreEngine, public DeepFileSystemEngine {
 public:
  static constexpr uint32_t kRootRecord = 5;
  // Folders remembered over the whole pass (all volumes together): about
  // 64 MiB at most. Past it a file whose folder is new is listed at the top
  // level, and a known folder whose parent is new sits at the top level
  // under its own name; nothing found is dropped.
  static constexpr size_t kMaxFolders = size_t(1) << 20;
  // Volumes whose folders are resolved; past it files go to the top level.
  static constexpr size_t kMaxVolumes = 1024;
  // Records no table explained yet, kept (by sector, 32 MiB at most) until
  // the pass ends; past it they are placed at once, as the area's own.
  static constexpr size_t kMaxDeferred = size_t(1) << 22;

  // Whether the first sector of a file fits its extension. Unset: the
  // signature table's check.
  void SetContentCheck(ContentCheck check) override { contentCheck_ = std::move(check); }
  // A lower folder limit (for tests of what happens when it is reached).
  void SetFolderLimit(size_t limit) { folderLimit_ = std::min(limit, kMaxFolders); }

  DeepNtfsEngine();
  ~DeepNtfsEngine() override;

  Status Open(const Medium& medium, uint16_t sourceTag) override;
  Status SetCallbacks(ScanProgressCallback progress, DataCallback data, void* user, int share) override {
    return StoreEngine::SetCallbacks(progress, data, user, share);
  }
  // The deep-scan pass drives this engine; Scan itself does nothing.

  // Scan start: empties the maps and opens a fresh store, under `earlierLog`
  // when resuming, else under LogName(area start, now).
  Status StartScan(const std::string* earlierLog);
  // One FILE record found at absolute sector `sector`; `record` holds at
  // least RecordBytes() bytes (only they are read, and never modified).
  // lostFolderMode false (the pass): files become items, folders are passed
  // over. lostFolderMode true: the record at the place of folder
  // `folderNumber` (0: the record's own number) becomes that folder's item,
  // or "LostFolder<n>" when it is not that folder any more. A file record no
  // table met so far explains becomes an item in FinishScan, when every table
  // of the pass is known.
  // 0, -1 (not a FILE record), 87 (inconsistent record or no scan started).
  Status ProcessFileRecord(ByteView record, uint64_t sector, bool lostFolderMode = false, uint32_t folderNumber = 0);
  // After the last sector (also after a stop, so that the folders met so far
  // are in the log a resumed scan continues): makes the items of the records
  // put off during the pass, then the folder items of every
  // volume and writes the store out. 0 or the first error met (the other
  // folders are still made). Asks the progress callback about stopping; when
  // it answers non-zero, the remaining folders are made without reading
  // their records and that answer is returned.
  Status FinishScan();

  // The same steps as one of the deep pass's file-system engines.
  FoundItems& Results() override { return *this; }
  bool FirstDataSector(const FoundItemRecord& r, uint64_t& sector) override {
    return NtfsRecordFirstSector(source_, source_.UnitSize(), r, sector);
  }
  ResultStore* Records() override { return Store(); }
  uint32_t RecordKind() const override;
  std::string_view LogPrefix() const override { return "Pro_Ntfs_"; }
  Status BeginPass(const std::string* earlierLog) override { return StartScan(earlierLog); }
  // FILE records of files (folders are found through their files' parents),
  // read on past the chunk when one runs over its end.
  bool TakeSector(const DeepChunk& chunk, uint64_t i) override;
  Status FinishPass() override { return FinishScan(); }

  Status ReadContent(const FoundItemRecord& record, const ContentSink& sink) override;

  // "Pro_Ntfs_<start>_<y><m><d><h><mm>" for that local time.
  static std::string LogName(uint64_t areaStart, const struct tm& local);

  uint32_t SectorSize() const { return sectorSize_; }
  uint32_t RecordBytes() const { return recordBytes_; }
  const MftMap& Tables() const { return mftMap_; }
  size_t FolderCount() const { return folderCount_; }

 protected:
  uint32_t RootId() const override { return kRootRecord; }

 private:
  enum class FolderState : uint8_t { kReal, kLost };
  struct FolderNode {
    uint32_t id = 0;      // itemId of its folder item
    uint32_t parent = 0;  // record number of its parent (kReal)
    uint32_t depth = 0;   // folders from it up to the root, itself included
    FolderState state = FolderState::kLost;
    bool depthKnown = false;
    bool detached = false;  // a real folder shown at the top level
    bool emitted = false;
  };
  // The folders met above the files of one volume (one table).
  struct Volume {
    MftTable table;
    bool first = false;  // its folders keep their record numbers as ids
    std::unordered_map<uint32_t, FolderNode> folders;
    std::vector<uint32_t> order;  // in order of discovery
  };
  // Where a record belongs: a known table, or one assumed for it. The
  // pointer is into the map or to `assumed`, valid until the map changes.
  struct Attribution {
    Attribution() = default;
    Attribution(const Attribution&) = delete;  // `table` may point into it
    Attribution& operator=(const Attribution&) = delete;
    const MftTable* table = nullptr;
    MftTable assumed;
    bool known = false;
  };

  Status OpenArea(uint64_t start, uint64_t count, uint16_t tag);
  Status ProcessUnguarded(ByteView record, uint64_t sector, bool lostMode, uint32_t folderNumber);
  Status ReadSectorsAt(uint64_t sector, uint32_t count, uint8_t* dst) const;
  // Reads the record at `sector` and applies the fix-up; -1 when it is no FILE record.
  Status ReadRecordAt(uint64_t sector, std::vector<uint8_t>& rec) const;
  uint32_t EstimateSectorsPerCluster() const;
  void Attribute(uint64_t n, uint64_t sector, Attribution& out) const;
  Volume* VolumeOf(const Attribution& a);
  FolderNode* Node(Volume& v, uint32_t number);
  // {id of the folder to relate under, depth of its children}.
  std::pair<uint32_t, uint32_t> PlaceUnder(Volume& v, uint64_t parent);
  void AddTable(ByteView rec, uint64_t sector);
  // What a "$MFT" record found at t.keySector is: the table's own record 0,
  // the $MFTMirr copy of one still in place, or the copy of one whose own
  // first records are gone (realKey: where that table's record 0 lay).
  enum class TableCopy { kOriginal, kMirrorOfPresent, kMirrorOfLost };
  TableCopy JudgeTableCopy(const MftTable& t, uint64_t& realKey) const;
  // read false: no record is read (a stop was asked for); the folder keeps
  // its place under "LostFolder<n>" unless `given` holds its record.
  Status EmitFolder(Volume& v, uint32_t number, const std::vector<uint8_t>* given, bool read = true);
  // Takes up the records put off during the pass, with every table known now.
  Status ProcessDeferred();
  uint32_t CheckContent(const std::string& name, const struct RecordSummary& s, uint64_t volumeStart, uint32_t spc);
  // Reads bytes of the volume that starts at absolute sector `volumeStart`.
  VolumeReader VolumeAt(uint64_t volumeStart) const;
  // Whether the volume a deleted file's record belongs to has given any of
  // its clusters to another file since, by that volume's $Bitmap; false
  // when the record's table or its bitmap cannot be read.
  bool ClustersTakenSince(const FoundItemRecord& record, const struct DataLayout& data);
  // The $Bitmap of a table met in this scan, read once (null when unreadable).
  const ClusterBitmap* BitmapOf(const MftTable& table);
  // Rows of the named streams in file record `rec` (after its own row `file`).
  void AppendStreams(ByteView rec, const FoundItemRecord& file, const std::string& fileName, uint64_t volumeStart,
                     uint32_t spc, uint32_t parentId, uint32_t level);
  void SeedFromBootSector();

  SectorSource source_;
  Status openStatus_ = kInvalidArg;
  uint16_t tag_ = 0;
  uint64_t areaStart_ = 0, areaCount_ = 0;
  uint32_t sectorSize_ = 512;
  uint32_t sectorsPerRecord_ = 2;
  uint32_t recordBytes_ = 1024;
  uint32_t sectorsPerCluster_ = 8;  // the running estimate
  std::vector<uint8_t> boot_;       // the area's first 4096 bytes

  MftMap mftMap_;
  std::vector<uint64_t> deferred_;  // sectors of records no table explained yet
  bool finishing_ = false;
  std::vector<std::unique_ptr<Volume>> volumes_;
  std::map<std::tuple<uint64_t, uint64_t, bool>, size_t> volumeIndex_;
  size_t folderCount_ = 0;
  size_t folderLimit_ = kMaxFolders;
  uint32_t nextAlias_ = 0xFFFFFFFEu;
  std::unordered_set<uint32_t> resumedFolderIds_;
  std::map<uint64_t, std::unique_ptr<ClusterBitmap>> bitmaps_;  // by table key; null: unreadable

  ContentCheck contentCheck_;
};

}  // namespace dunmere
