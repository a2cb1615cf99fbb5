#pragma once
// The scan-log folder: numbered scan folders and the "config" list of deep
// scans that can be resumed.
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "engine/scan_resume_entry.h"
#include "base/status.h"

namespace dunmere {

class ScanLogFolder {
 public:
  // Free bytes of the volume in (disk, start, count, tag); 0 when unknown.
  using FreeBytesProbe = std::function<uint64_t(uint32_t, uint64_t, uint64_t, uint16_t)>;

  // The process-wide folder below the data folder (see platform/data_folder.h).
  static ScanLogFolder& Instance();
  ScanLogFolder(std::string scanLogPath, FreeBytesProbe probe);

  const std::string& ScanLogPath() const { return scanLogPath_; }
  int64_t Counter() const { return counter_; }
  const std::vector<ScanResumeEntry>& Entries() const { return entries_; }

  void BeginNewScanFolder();
  // With a final "/".
  std::string CurrentScanFolder() const;
  // Removes the entry for that folder from the list (not saved) and deletes the
  // folder. Paths outside the scan-log folder are never deleted.
  Status RemoveScanFolder(const std::string& path);
  // `fingerprint` (of the medium now in the drive; 0 when not known) must be
  // the one saved: the same area of another card of the same size is not the
  // scan's medium. Such an entry is kept for when its own medium returns.
  int FindResumablePartition(uint32_t diskIndex, uint64_t start, uint64_t count, uint16_t tag,
                             ScanResumeEntry* out, uint32_t fingerprint = 0);
  // The last FindResumablePartition met a scan of this area of another medium.
  bool LastFindMetOtherMedium() const { return otherMedium_; }
  // An image's scans are told apart by their range too: the partitions of a
  // whole-disk image are scanned one by one.
  int FindResumableImage(const std::string& imagePath, uint64_t start, uint64_t count, ScanResumeEntry* out);
  Status SaveScanState(uint16_t tag, uint32_t diskIndex, uint64_t start, uint64_t count,
                       const ResumeProgress& progress, const std::string& folder, const std::string& imagePath,
                       uint32_t fingerprint = 0);
  // The log in `folder` whose name contains `namePart` (never a companion file).
  Status FindLogFile(const std::string& namePart, std::string& outName, const std::string& folder) const;
  void WithdrawScanFolder() { --counter_; }

  Status Load();
  Status Save();

 private:
  bool IsInside(const std::string& path) const;
  // A counter out of the range scans ever reach starts again above the
  // folders of the resume entries.
  void RenumberAboveEntries();
  // Resumes from a matching entry, or drops it (and its folder) when stale.
  int TakeResumable(const ScanResumeEntry& e, bool unchanged, ScanResumeEntry* out);

  std::string scanLogPath_;
  FreeBytesProbe probe_;
  int64_t counter_ = 0;
  bool resumeActive_ = false;
  bool otherMedium_ = false;
  std::string resumeFolder_;
  std::vector<ScanResumeEntry> entries_;
};

}  // namespace dunmere
