#pragma once
// The engine of a scan a user starts: a quick scan of one file system, or the
// deep scan. The windows and the command line never look inside an engine:
// they open it on a medium, scan with a progress callback, then list, count,
// search, preview and copy out through FoundItems.
#include <cstdint>
#include <string>

#include "base/status.h"
#include "engine/callbacks.h"
#include "engine/found_items.h"
#include "storage/medium.h"

namespace dunmere {

class ScanEngine : public virtual FoundItems {
 public:
  // Readies the engine on the area of an opened medium; the engine keeps a
  // share of its handle. `sourceTag` marks the records it reports.
  virtual Status Open(const Medium& medium, uint16_t sourceTag) = 0;
  // Opens the medium first: an image file as one partition starting at
  // sector 0, or a range of sectors of the disk with that index.
  Status OpenImage(const std::string& path, uint16_t sourceTag);
  Status OpenPartition(uint32_t diskIndex, uint64_t startSector, uint64_t sectorCount, uint16_t sourceTag);
  virtual Status SetCallbacks(ScanProgressCallback progress, DataCallback data, void* user, int share) = 0;
  // earlierLog null: a new scan; otherwise reopens that log in the current scan folder.
  virtual Status Scan(const std::string* earlierLog) = 0;
  // The file system's free stretches, one per call, after LoadAllocationBitmap;
  // a deep scan reads only those when the engine has them.
  virtual Status LoadAllocationBitmap() { return kNotSupported; }
  virtual Status NextFreeExtent(uint64_t& startSector, uint64_t& lengthSectors) {
    (void)startSector;
    (void)lengthSectors;
    return kInvalidArg;
  }

  // ---- what an engine can do beyond the operations above ----
  // An earlier, interrupted scan of the same area can be taken up.
  virtual bool CanResume() const { return false; }
  // No earlier scan is taken up because the one of this area was of another
  // medium (another card of the same size in the same reader); it is kept.
  virtual bool EarlierScanWasOfAnotherMedium() const { return false; }
  // The user chose a fresh scan over the earlier one: its folder goes.
  virtual void DeclineResume() {}
  // The engine picks its scan folder itself (a new one or the one it resumes).
  virtual bool ChoosesScanFolder() const { return false; }
  // NextFreeExtent counts in sectors of this size (after LoadAllocationBitmap).
  virtual bool FreeExtentsInSectorsOf(uint32_t sectorSize) const { return true; }
  // The scan has read (and reported from) the directory entries at this byte
  // of the medium, in a folder the file system marks deleted: a deep pass
  // over free space need not read them again.
  virtual bool WalkedDeletedDirectoryAt(uint64_t mediumByte) const { return false; }
  // The scan is the first pass of a deep scan, whose own pass reads all free
  // space: folders only a look through free space finds are left to it (its
  // engines join a folder's later clusters by more evidence than a quick
  // look has).
  virtual void LeaveLostFoldersToDeepPass() {}
};

}  // namespace dunmere
