#pragma once
// The interface every scan engine implements. The windows and the command line
// never look inside an engine: they open a source, scan with a progress
// callback, then list, count, search, preview and copy out through these
// operations. Paths are UTF-8 on this platform and "/" separates folders.
#include <cstdint>
#include <string>
#include <vector>

#include "engine/callbacks.h"
#include "engine/found_item.h"
#include "base/status.h"
#include "storage/medium.h"
#include "storage/unreadable_sectors.h"

namespace dunmere {

class ResultStore;

class ScanEngine {
 public:
  virtual ~ScanEngine() = default;

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
  virtual Status ListChildren(const FoundItemRecord* folder, uint32_t level, std::vector<FoundItemRecord>& out) = 0;
  virtual Status CountFiles(const FoundItemRecord* folder, uint32_t level, uint32_t& count) = 0;
  virtual int64_t GetFoundCount() = 0;
  // Ancestor folder names, outermost first, each followed by "/"; empty for the root.
  virtual Status GetFolderPath(const FoundItemRecord* record, std::string& out) = 0;
  virtual Status RecoverItem(const FoundItemRecord& record, const std::string& destination, int levelBase) = 0;
  virtual Status NextFreeExtent(uint64_t& startSector, uint64_t& lengthSectors) = 0;
  virtual Status SetSearchCallback(SearchProgressCallback cb, void* user) = 0;
  // 1 when the log could be read, else 0.
  virtual int SearchByType(const std::string& patterns, std::vector<FoundItemRecord>& out) = 0;
  virtual Status LoadAllocationBitmap() = 0;
  // Writes the content to a temporary file whose path is returned in `path`, or
  // into `buffer` (at most `byteCount` bytes; `byteCount` returns what was placed).
  virtual Status ReadForPreview(const FoundItemRecord* record, std::string& path, uint8_t* buffer,
                                uint64_t& byteCount, PreviewProgressCallback cb, void* user) = 0;

  // ---- what an engine can do beyond the operations above ----
  // An earlier, interrupted scan of the same area can be taken up.
  virtual bool CanResume() const { return false; }
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
  // The store of the records this engine wrote; null when it keeps none of its own.
  virtual ResultStore* RecordStore() { return nullptr; }
  // Adds the stretches of the medium its scan could not read (and went on
  // past) to `into`; returns the medium's sector size they are counted in.
  virtual uint32_t CollectUnreadable(UnreadableSectors& into) const {
    (void)into;
    return 512;
  }
};

// Sectors of the medium the engine's scan could not read.
inline uint64_t CountUnreadableSectors(const ScanEngine& engine) {
  UnreadableSectors u;
  uint32_t unit = engine.CollectUnreadable(u);
  return u.Count(unit);
}

}  // namespace dunmere
