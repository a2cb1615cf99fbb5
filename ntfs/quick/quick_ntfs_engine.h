#pragma once
// The quick scan of an NTFS volume: reads the whole $MFT once, front to back,
// makes an item of every deleted file, then rebuilds the folders those files
// lived in ("LostFolder<n>" where a parent can no longer be read as a
// folder). Listing, counting, search, copy-out and preview come from the
// store engine; this class adds how the volume is read.
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "base/bytes.h"
#include "engine/content_check.h"
#include "engine/store_engine.h"
#include "ntfs/cluster_bitmap.h"
#include "ntfs/record_summary.h"
#include "ntfs/data_layout.h"
#include "ntfs/layout_stream.h"
#include "ntfs/file_name_attr.h"
#include "ntfs/named_streams.h"
#include "ntfs/quick/mft_geometry.h"
#include "storage/sector_source.h"

namespace dunmere {

class QuickNtfsEngine : public QuickStoreEngine {
 public:
  static constexpr uint32_t kRootRecord = 5;
  static constexpr uint32_t kBatchRecords = 1024;

  void SetContentCheck(ContentCheck check) { contentCheck_ = std::move(check); }

  QuickNtfsEngine();
  ~QuickNtfsEngine() override;

  Status Open(const Medium& medium, uint16_t sourceTag) override;
  Status Scan(const std::string* earlierLog) override;
  Status ReadContent(const FoundItemRecord& record, const ContentSink& sink) override;
  Status LoadAllocationBitmap() override;
  Status NextFreeExtent(uint64_t& startSector, uint64_t& lengthSectors) override;

  const MftGeometry& Geometry() const { return geo_; }
  // Free extents come in the volume's sectors.
  bool FreeExtentsInSectorsOf(uint32_t sectorSize) const override { return geo_.bytesPerSector == sectorSize; }
  bool FirstDataSector(const FoundItemRecord& r, uint64_t& sector) override {
    return NtfsRecordFirstSector(source_, source_.UnitSize(), r, sector);
  }
  uint32_t CollectUnreadable(UnreadableSectors& into) const override {
    into.Merge(source_.Unreadable());
    return source_.UnitSize();
  }
  // Absolute sector of a FILE record.
  uint64_t SectorOfRecord(uint64_t n) const { return geo_.SectorOfRecord(n); }
  // Reads record n and applies the fix-up. -1 when it is not a FILE record,
  // 23 when torn, 87 when n lies beyond the $MFT, or the read's error.
  Status ReadRecord(uint64_t n, std::vector<uint8_t>& record) const;
  // The unnamed attribute of that type of record n, following an attribute
  // list into the records it names. -100 when absent.
  Status FindAttributeRuns(uint64_t n, uint32_t type, DataLayout& out) const;
  // Record n's best $FILE_NAME, wherever its attribute list put it.
  bool FindFileName(uint64_t n, FileNameInfo& out) const;
  // Streams a non-resident attribute's bytes (sparse runs and data past the
  // initialized size read as zeros; compressed data is decompressed).
  Status StreamLayout(const DataLayout& layout, const ContentSink& sink) const;
  // Reads bytes of the volume for StreamDataLayout.
  VolumeReader VolumeRead() const;

 protected:
  uint32_t RootId() const override { return kRootRecord; }

 private:
  struct FolderInfo {
    bool real = false;  // a readable folder record with a name
    FileNameInfo name;
    uint32_t depth = 0;
    bool depthKnown = false;
  };

  Status OpenSource(uint64_t partitionOffset, uint64_t byteCount, uint16_t tag);
  Status LoadMftRuns();
  Status ReadBytes(uint64_t offset, size_t length, uint8_t* buffer) const;
  Status RunScan();
  Status ReadBatch(uint64_t firstRecord, uint32_t records, uint8_t* buffer) const;
  void ParseDeletedRecord(uint64_t n, std::span<uint8_t> record);
  uint32_t CheckContent(const std::string& name, const struct RecordSummary& s);
  FolderInfo& Folder(uint64_t n);
  uint32_t DepthOf(uint64_t parent);
  void EmitFolders();
  // Writes the folders of the files found, then the store's companions.
  void FinishFolders();
  // Whether the volume has given any of the layout's clusters to another
  // file since (the bitmap is loaded on first use); false when the bitmap
  // cannot be read.
  bool ClustersTakenSince(const DataLayout& layout);
  // The attributes of that type of record n that `which` names, from the
  // record and the extension records its attribute list gives.
  Status CollectPieces(uint64_t n, uint32_t type, std::vector<std::vector<uint8_t>>& keep,
                       std::vector<AttributeView>& pieces, bool& sawList, const DataSelector& which = {}) const;
  // Rows of the named streams of deleted file n (after its own row `file`).
  void AppendStreams(uint64_t n, std::span<const uint8_t> record, const FoundItemRecord& file,
                     const std::string& fileName, uint32_t parent, uint32_t level);
  // The first sector of a stream's data, for the judging of its content.
  ContentSample StreamSample(const NamedStream& stream, std::vector<uint8_t>& buffer) const;

  SectorSource source_;
  Status openStatus_ = kInvalidArg;
  uint16_t tag_ = 0;
  uint64_t sectorCount_ = 0;  // of the volume, in the file system's sectors
  MftGeometry geo_;
  std::vector<uint8_t> batch_;
  ClusterBitmap bitmap_;
  bool bitmapTried_ = false;
  std::vector<uint64_t> folderList_;
  std::unordered_map<uint64_t, FolderInfo> folders_;
  ContentCheck contentCheck_;
};

}  // namespace dunmere
