#pragma once
// One file system's part of the deep scan. The pass shows each sector to these
// engines in turn; the first that takes it as metadata of its file system
// builds its records from it, and a sector none takes goes to carving.
#include <cstdint>
#include <string>
#include <string_view>

#include "engine/content_check.h"
#include "engine/found_items.h"
#include "engine/scan_engine.h"
#include "storage/medium.h"
#include "engine/result_store.h"
#include "storage/sector_source.h"

namespace dunmere {

// A chunk of the pass as the engines see it.
struct DeepChunk {
  const uint8_t* data = nullptr;
  uint32_t sectors = 0;
  uint64_t firstSector = 0;  // absolute sector of data[0]
  uint32_t sectorSize = 512;
  const SectorSource* source = nullptr;     // for a structure that runs past the chunk
  const ScanEngine* quick = nullptr;  // the quick pass's engine, or null
};

class DeepFileSystemEngine {
 public:
  virtual ~DeepFileSystemEngine() = default;
  // Readies the engine on the area of the medium the pass reads.
  virtual Status Open(const Medium& medium, uint16_t sourceTag) = 0;
  // The progress callback asked while the pass finishes.
  virtual Status SetCallbacks(ScanProgressCallback progress, DataCallback data, void* user, int share) = 0;
  // Its records, for listing, searching and copy-out.
  virtual FoundItems& Results() = 0;
  virtual ResultStore* Records() = 0;
  // The kind its records carry.
  virtual uint32_t RecordKind() const = 0;
  // The start of its scan log's name: how a resumed scan finds the log.
  virtual std::string_view LogPrefix() const = 0;
  // Whether a found file's first bytes fit its name.
  virtual void SetContentCheck(ContentCheck check) = 0;

  // Before the first sector: a new log, or the earlier one reopened.
  virtual Status BeginPass(const std::string* earlierLog) = 0;
  // Sector `i` of the chunk: true when it is this file system's and was taken.
  virtual bool TakeSector(const DeepChunk& chunk, uint64_t i) = 0;
  // After the last sector (also after a stop): writes what was built. Asks the
  // progress callback about stopping.
  virtual Status FinishPass() = 0;
};

}  // namespace dunmere
