#pragma once
// The deep scan. It runs the quick engine of the area first (when the area
// holds a file system it knows), then reads every sector once in 64 KiB chunks
// (or only the free extents the quick engine reports) and hands each sector
// to exactly one deep engine: file-system metadata to the deep file-system
// engines, everything else to carving. To the windows it is one engine: every
// per-record operation goes to the engine that made the record.
#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "carving/carving_engine.h"
#include "engine/deep_engine.h"
#include "engine/scan_engine.h"
#include "engine/scan_resume_entry.h"
#include "scan/deep_scan_logs.h"
#include "storage/sector_source.h"

namespace dunmere {

class DeepScanEngine : public ScanEngine {
 public:
  static constexpr int32_t kImageDisk = 128;

  DeepScanEngine();
  ~DeepScanEngine() override;

  Status Open(const Medium& medium, uint16_t sourceTag) override;
  Status SetCallbacks(ScanProgressCallback progress, DataCallback data, void* user, int share) override;
  Status Scan(const std::string* earlierLog) override;
  Status ListChildren(const FoundItemRecord* folder, uint32_t level, std::vector<FoundItemRecord>& out) override;
  Status CountFiles(const FoundItemRecord* folder, uint32_t level, uint32_t& count) override;
  int64_t GetFoundCount() override;
  Status GetFolderPath(const FoundItemRecord* record, std::string& out) override;
  Status RecoverItem(const FoundItemRecord& record, const std::string& destination, int levelBase) override;
  Status NextFreeExtent(uint64_t& startSector, uint64_t& lengthSectors) override;
  Status SetSearchCallback(SearchProgressCallback cb, void* user) override;
  int SearchByType(const std::string& patterns, std::vector<FoundItemRecord>& out) override;
  Status LoadAllocationBitmap() override;
  Status ReadForPreview(const FoundItemRecord* record, std::string& path, uint8_t* buffer, uint64_t& byteCount,
                        PreviewProgressCallback cb, void* user) override;

  // An earlier scan of the same area was found when the source was opened.
  bool CanResume() const override { return resume_; }
  const ScanResumeEntry& ResumeEntry() const { return resumeEntry_; }
  void DeclineResume() override;
  bool EarlierScanWasOfAnotherMedium() const override { return otherMedium_; }
  bool ChoosesScanFolder() const override { return true; }
  // The pass's own reads and those of the quick pass before it, each sector once.
  uint32_t CollectUnreadable(UnreadableSectors& into) const override;

  uint32_t SectorSize() const { return sectorSize_; }
  uint64_t AreaLength() const { return medium_.count; }
  bool UsedFreeRanges() const { return freeRanges_; }
  ScanEngine* QuickEngine() { return quick_.get(); }
  // Chunks the pass reads ahead on a thread of its own; 0 reads them on the
  // scan's thread (the same records either way). `judgeWhenQueued`: see
  // DeepPass::kJudgeWhenQueued.
  void SetReadAheadChunks(uint32_t chunks, uint32_t judgeWhenQueued) {
    readAhead_ = chunks;
    judgeWhenQueued_ = judgeWhenQueued;
  }
  CarvingEngine& Carving() { return carve_; }

 private:
  // The engine that made records of this source kind; null for unknown kinds.
  FoundItems* EngineOfKind(uint32_t kind);
  FoundItems* EngineOfFolders(uint32_t kind);
  // The quick engine (null without one), the file-system engines, carving last.
  std::vector<FoundItems*> AllEngines();
  void ResetResume();
  DeepArea Area() const;
  // The quick engine's scan (resumed from its log when resuming); learns
  // whether its free extents can steer the pass.
  Status RunQuickPass(bool resuming, const std::string& folder);

  uint16_t tag_ = 0;
  uint32_t sectorSize_ = 512;
  Medium medium_;
  uint32_t fingerprint_ = 0;  // of a disk area, kept with its resume position
  bool otherMedium_ = false;
  CarvingEngine carve_;
  // The file-system engines of the pass, one per row of the file-system
  // table that has one, in the order they are offered a sector.
  std::vector<std::unique_ptr<DeepFileSystemEngine>> ownDeep_;
  std::vector<DeepFileSystemEngine*> deep_;
  std::unique_ptr<ScanEngine> quick_;
  int share_ = 90;
  ScanProgressCallback progress_ = nullptr;
  DataCallback data_ = nullptr;
  void* user_ = nullptr;
  SearchProgressCallback searchCb_ = nullptr;
  void* searchUser_ = nullptr;
  bool resume_ = false;
  ScanResumeEntry resumeEntry_{};
  bool freeRanges_ = false;
  uint32_t readAhead_;
  uint32_t judgeWhenQueued_;
};

}  // namespace dunmere
