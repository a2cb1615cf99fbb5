#pragma once
// What a finished scan is asked by the windows, the command line, preview and
// copy-out: its found items, read back from the scan logs. Every engine that
// reports records answers these; scanning itself is another interface
// (ScanEngine for the scans a user starts, DeepFileSystemEngine for the parts
// of the deep pass). Paths are UTF-8 on this platform and "/" separates folders.
#include <cstdint>
#include <string>
#include <vector>

#include "base/status.h"
#include "engine/callbacks.h"
#include "engine/found_item.h"
#include "storage/unreadable_sectors.h"

namespace dunmere {

class ResultStore;

class FoundItems {
 public:
  virtual ~FoundItems() = default;

  virtual Status ListChildren(const FoundItemRecord* folder, uint32_t level, std::vector<FoundItemRecord>& out) = 0;
  virtual Status CountFiles(const FoundItemRecord* folder, uint32_t level, uint32_t& count) = 0;
  virtual int64_t GetFoundCount() = 0;
  // Ancestor folder names, outermost first, each followed by "/"; empty for the root.
  virtual Status GetFolderPath(const FoundItemRecord* record, std::string& out) = 0;
  virtual Status RecoverItem(const FoundItemRecord& record, const std::string& destination, int levelBase) = 0;
  virtual Status SetSearchCallback(SearchProgressCallback cb, void* user) = 0;
  // 1 when the log could be read, else 0.
  virtual int SearchByType(const std::string& patterns, std::vector<FoundItemRecord>& out) = 0;
  // Writes the content to a temporary file whose path is returned in `path`, or
  // into `buffer` (at most `byteCount` bytes; `byteCount` returns what was placed).
  virtual Status ReadForPreview(const FoundItemRecord* record, std::string& path, uint8_t* buffer,
                                uint64_t& byteCount, PreviewProgressCallback cb, void* user) = 0;

  // The store of the records this engine wrote; null when it keeps none of its own.
  virtual ResultStore* RecordStore() { return nullptr; }
  // Adds the stretches of the medium its scan could not read (and went on
  // past) to `into`; returns the medium's sector size they are counted in.
  // The medium sector holding the first byte of a file record's data, so that
  // a carved copy of the same file can be told apart; false when unknown.
  virtual bool FirstDataSector(const FoundItemRecord& record, uint64_t& sector) {
    (void)record;
    (void)sector;
    return false;
  }
  virtual uint32_t CollectUnreadable(UnreadableSectors& into) const {
    (void)into;
    return 512;
  }
  // True when the scan left a part of its look undone to stay quick (a bound
  // on what it reads) and a deep scan of the same area may find more.
  virtual bool LeftMoreForDeepScan() const { return false; }
};

// Sectors of the medium the engine's scan could not read.
inline uint64_t CountUnreadableSectors(const FoundItems& engine) {
  UnreadableSectors u;
  uint32_t unit = engine.CollectUnreadable(u);
  return u.Count(unit);
}

}  // namespace dunmere
