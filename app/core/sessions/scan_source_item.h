#pragma once
// One place the user chose to scan: a volume (or unallocated stretch, or bare
// disk) of the disk list, or an image file. The row of the location page owns
// it; the scan window fills in its engine, the search and result views read
// from that engine afterwards.
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "engine/scan_engine.h"
#include "storage/disk_list.h"

namespace dunmere {

struct ScanSourceItem {
  std::optional<VolumeInfo> volume;            // absent for an image file scanned whole; for a part
                                               // of a whole-disk image, its range in the file's sectors
  std::unique_ptr<ScanEngine> engine;  // absent until scanned
  std::string imagePath;                       // empty for a partition
  uint16_t tag = 0;                            // the source tag engines put into their records

  bool IsPartition() const { return imagePath.empty() && volume.has_value(); }
  bool IsImage() const { return !IsPartition(); }
};

}  // namespace dunmere
