#pragma once
// The stretch of a source an engine scans: the whole of an image file (from
// sector 0), or a range of a disk's sectors cut at the disk's end. Every
// engine opens its source through these, so all agree on the clamping.
#include <cstdint>
#include <string>

#include "base/status.h"
#include "storage/sector_source.h"

namespace dunmere {

struct SourceArea {
  uint64_t start = 0;  // in the source's own sectors
  uint64_t count = 0;
};

[[nodiscard]] Status OpenImageArea(SectorSource& source, const std::string& path, SourceArea& area);
// kInvalidArg when start lies at or past the disk's end.
[[nodiscard]] Status OpenDiskArea(SectorSource& source, uint32_t disk, uint64_t start, uint64_t count,
                                  SourceArea& area);

}  // namespace dunmere
