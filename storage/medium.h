#pragma once
// A source the user chose, opened once: an image file, scanned whole from its
// first sector or in a range of its sectors (a partition of a whole-disk
// image), or a disk with the range of its sectors to scan (a partition,
// a free stretch, the whole disk), cut at the disk's end. Engines are handed
// a medium and read through shares of its handle; none opens anything itself.
#include <cstdint>
#include <string>

#include "base/status.h"
#include "storage/sector_source.h"

namespace dunmere {

struct Medium {
  SectorSource source;
  // The area to scan, in the source's own sectors.
  uint64_t start = 0;
  uint64_t count = 0;
  // The disk's index in the disk table; -1 for an image file.
  int32_t disk = -1;
  std::string imagePath;

  bool IsImage() const { return disk < 0; }
  // The same area on another handle of the same open medium.
  Medium Share() const;
};

// A value that tells this medium's area from the same area of another medium
// (a second card of the same size in the same reader): the device's identity
// and the area's first 4 KiB, where the partition table or the volume's boot
// sector with its serial number lie. Never 0, so 0 can mean "not recorded".
uint32_t MediumFingerprint(const Medium& medium);

[[nodiscard]] Status OpenImageMedium(const std::string& path, Medium& out);
// A range of an image file's 512-byte sectors, cut at the file's end;
// kInvalidArg when start lies at or past it.
[[nodiscard]] Status OpenImageMedium(const std::string& path, uint64_t start, uint64_t count, Medium& out);
// kInvalidArg when start lies at or past the disk's end. A disk's cached
// writes (a mounted volume's) are flushed first, so the raw reads see them.
[[nodiscard]] Status OpenDiskMedium(uint32_t disk, uint64_t start, uint64_t count, Medium& out);

}  // namespace dunmere
