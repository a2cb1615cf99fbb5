#include "storage/medium.h"

#include <algorithm>

#include "platform/block_device.h"

namespace dunmere {

Medium Medium::Share() const {
  Medium m;
  m.source = source.Share();
  m.start = start;
  m.count = count;
  m.disk = disk;
  m.imagePath = imagePath;
  return m;
}

Status OpenImageMedium(const std::string& path, Medium& out) {
  out = Medium{};
  if (Status s = out.source.OpenImageFile(path)) return s;
  out.count = out.source.SectorCount();
  out.imagePath = path;
  return kOk;
}

Status OpenImageMedium(const std::string& path, uint64_t start, uint64_t count, Medium& out) {
  if (Status s = OpenImageMedium(path, out)) return s;
  if (start >= out.source.SectorCount()) return kInvalidArg;
  out.start = start;
  out.count = std::min(count, out.source.SectorCount() - start);
  return kOk;
}

Status OpenDiskMedium(uint32_t disk, uint64_t start, uint64_t count, Medium& out) {
  out = Medium{};
  FlushSystemCaches();
  if (Status s = out.source.OpenPhysicalDisk(disk)) return s;
  out.disk = int32_t(disk);
  if (start >= out.source.SectorCount()) return kInvalidArg;
  out.start = start;
  out.count = std::min(count, out.source.SectorCount() - start);
  return kOk;
}

}  // namespace dunmere
