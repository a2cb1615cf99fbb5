#pragma once
// The exFAT part of the deep scan. The pass shows it every sector; it takes
// exFAT boot sectors (each a volume guess) and sectors of exFAT directory
// data (entry sets that check out with their checksum, live or deleted, and
// root sectors), and leaves everything else to the engines after it and to
// carving. What it takes goes to a file of the scan folder (ExfatFindings),
// so memory stays small and a resumed scan starts from what the stopped one
// found. When the pass ends it places every set in its volume and folder
// (ExfatPlacement), hangs folders whose own entry was never found under
// "LostFolder<n>", and writes its log anew from all it found. A found file
// is read back from its first cluster as one run of its data length (the
// FAT's chain where the volume's FAT still holds it); its records carry
// sourceKind 6 (kSourceDeepExfat).
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "engine/content_check.h"
#include "engine/deep_engine.h"
#include "engine/stop_poll.h"
#include "engine/store_engine.h"
#include "exfat/deep/exfat_dir_sector.h"
#include "exfat/deep/exfat_findings.h"
#include "exfat/deep/exfat_placement.h"
#include "exfat/deep/exfat_volumes.h"
#include "exfat/exfat_bitmap.h"
#include "storage/sector_source.h"

namespace dunmere {

class DeepExfatEngine : public StoreEngine, public DeepFileSystemEngine, private ExfatSectorSink {
 public:
  struct Stats {
    uint64_t sets = 0;        // placed sets (files and folders)
    uint64_t files = 0, folders = 0, lostFolders = 0;
    uint64_t repaired = 0;    // sets cut by a cluster boundary, joined through the FAT
    uint64_t foundInUsedClusters = 0;  // folders' sets found in clusters the pass did not read
    uint64_t damaged = 0;     // sets passed over (clusters outside the heap, impossible lengths)
    uint64_t dropped = 0;     // findings past the limit
    uint64_t volumes = 0, inferredVolumes = 0;
  };

  DeepExfatEngine();
  ~DeepExfatEngine() override;

  Status Open(const Medium& medium, uint16_t sourceTag) override;
  Status SetCallbacks(ScanProgressCallback progress, DataCallback data, void* user, int share) override {
    return StoreEngine::SetCallbacks(progress, data, user, share);
  }
  FoundItems& Results() override { return *this; }
  ResultStore* Records() override { return Store(); }
  uint32_t RecordKind() const override { return kSourceDeepExfat; }
  std::string_view LogPrefix() const override { return "Pro_Exfat_"; }
  void SetContentCheck(ContentCheck check) override { contentCheck_ = std::move(check); }

  // A new "Pro_Exfat_<start>_<time>" log, or the earlier one with what its
  // scan found (a resume).
  Status BeginPass(const std::string* earlierLog) override;
  bool TakeSector(const DeepChunk& chunk, uint64_t i) override;
  // Places everything found (also after a stop) and writes the log anew.
  // Once the progress callback asks to stop, no more is read from the
  // medium: no content checks, no FAT chains, no volumes learned from roots.
  Status FinishPass() override;

  Status ReadContent(const FoundItemRecord& record, const ContentSink& sink) override;
  bool FirstDataSector(const FoundItemRecord& record, uint64_t& sector) override;

  const Stats& GetStats() const { return stats_; }
  const std::vector<ExfatVolume>& Volumes() const { return volumes_; }
  const std::string& LogName() const { return logName_; }

 protected:
  uint32_t RootId() const override { return ExfatPlacement::kRootId; }

 private:
  // Where a set placed at the end came from.
  struct SetSource {
    bool repaired = false;
    size_t index = 0;  // into findings_ (or repaired_)
    uint64_t streamAt = 0;
  };

  void OnSet(uint64_t at, ByteView set) override;
  void OnCutSet(uint64_t at) override;
  void OnRootSector(uint64_t at, ByteView sector) override;

  size_t ReadBytes(uint64_t at, uint8_t* out, size_t bytes) const;
  uint64_t MediumBytes() const { return source_.LengthBytes(); }
  Status Finish(StopPoll& poll);
  void LearnVolumes(const std::vector<ExfatFinding>& found, const std::function<bool()>& stop,
                    std::vector<uint64_t>& roots);
  // A set cut by the end of its cluster, joined with the rest of it from the
  // next cluster of its folder's chain; false when that cannot be done.
  bool JoinCutSet(uint64_t at, std::vector<uint8_t>& bytes, uint64_t& streamAt);
  static void SortByPlace(std::vector<ExfatPlacedSet>& sets, std::vector<SetSource>& sources);
  // A pass over free clusters only never reads those in use; after a format
  // a new file may hold the old entries of a folder in its last cluster's
  // unused end. The sets of folders that came out lost are looked for there
  // (from the heap's start on, while `budget` bytes last and `stop` says
  // nothing); true when any was found.
  bool FindLostFolderEntries(const ExfatPlacement& placed, std::vector<ExfatPlacedSet>& sets,
                             std::vector<SetSource>& sources, uint64_t& budget, const std::function<bool()>& stop);
  bool FatEntry(int volume, uint32_t cluster, uint32_t& next);
  bool FatUsable(int volume);
  const ExfatAllocationBitmap* BitmapOf(int volume);
  int VolumeOfRecord(const FoundItemRecord& r) const;
  FoundItemRecord SetRecord(const ExfatFileSet& set, ByteView fileEntry, int volume, uint64_t streamAt) const;
  int ContentPlausible(const FoundItemRecord& r, const std::function<bool()>& stop);

  SectorSource source_;
  bool opened_ = false;
  uint64_t start_ = 0, count_ = 0;
  uint32_t sectorSize_ = 512;
  uint16_t tag_ = 0;
  std::string logName_;
  ContentCheck contentCheck_;
  Stats stats_;

  ExfatFindings findings_;
  uint64_t coveredUntil_ = 0;
  std::vector<ExfatVolume> volumes_;
  std::vector<int8_t> fatState_;  // per volume: 0 not tried, 1 usable, -1 not
  struct FatWindow {
    int volume = -1;
    uint64_t start = 0;
    std::vector<uint8_t> bytes;
  } fatWindow_;
  std::vector<std::unique_ptr<ExfatAllocationBitmap>> bitmaps_;
  std::vector<bool> bitmapTried_;
  std::vector<std::vector<uint8_t>> repaired_;
  std::vector<uint8_t> readBuf_;
};

}  // namespace dunmere
