#include "storage/source_area.h"

#include <algorithm>

namespace dunmere {

Status OpenImageArea(SectorSource& source, const std::string& path, SourceArea& area) {
  area = SourceArea{};
  if (Status s = source.OpenImageFile(path)) return s;
  area.count = source.SectorCount();
  return kOk;
}

Status OpenDiskArea(SectorSource& source, uint32_t disk, uint64_t start, uint64_t count, SourceArea& area) {
  area = SourceArea{};
  if (Status s = source.OpenPhysicalDisk(disk)) return s;
  if (start >= source.SectorCount()) return kInvalidArg;
  area.start = start;
  area.count = std::min(count, source.SectorCount() - start);
  return kOk;
}

}  // namespace dunmere
