#include "storage/medium.h"

#include <algorithm>
#include <vector>

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

uint32_t MediumFingerprint(const Medium& medium) {
  // FNV-1a: stable across builds and platforms, which the saved value needs.
  uint32_t h = 2166136261u;
  auto mix = [&h](const uint8_t* p, size_t n) {
    for (size_t i = 0; i < n; ++i) h = (h ^ p[i]) * 16777619u;
  };
  if (!medium.IsImage()) {
    const std::string id = DeviceIdentity(medium.source.Path());
    mix(reinterpret_cast<const uint8_t*>(id.data()), id.size());
  }
  const uint32_t unit = medium.source.UnitSize();
  if (unit && medium.count) {
    const uint32_t sectors = unit >= 4096 ? 1 : uint32_t(std::min<uint64_t>(4096 / unit, medium.count));
    std::vector<uint8_t> head(size_t(sectors) * unit);
    uint32_t got = 0;
    if (medium.source.ReadSectors(sectors, head.data(), medium.start, unit, got) == kOk) mix(head.data(), head.size());
  }
  return h ? h : 1;
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
