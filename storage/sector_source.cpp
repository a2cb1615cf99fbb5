#include "storage/sector_source.h"

#include <climits>
#include <cstring>

#include "platform/block_device.h"
#include "storage/disk_table.h"
#include "storage/read_stop.h"

namespace dunmere {

SectorSource SectorSource::Share() const {
  SectorSource other;
  other.medium_ = medium_;
  return other;
}

const std::string& SectorSource::Path() const {
  static const std::string none;
  return medium_ ? medium_->path : none;
}

UnreadableSectors SectorSource::Unreadable() const {
  if (!medium_) return {};
  std::lock_guard<std::mutex> hold(medium_->mutex);
  return medium_->unreadable;
}

bool SectorSource::KnownUnreadable(uint64_t firstByte, uint64_t bytes) const {
  if (!medium_ || bytes == 0) return false;
  std::lock_guard<std::mutex> hold(medium_->mutex);
  const auto& ranges = medium_->unreadable.Ranges();
  // The range starting last at or before the end: it or none overlaps.
  auto it = ranges.lower_bound(firstByte + bytes);
  if (it == ranges.begin()) return false;
  --it;
  return it->second > firstByte;
}

Status SectorSource::OpenPath(const std::string& path, bool asImage) {
  Close();
  File file;
  if (Status s = file.Open(path, File::Mode::kRead)) return s;
  BlockGeometry g;
  if (Status s = QueryBlockGeometry(file, g)) return s;
  auto m = std::make_shared<OpenMedium>();
  if (asImage || !g.isBlockDevice) {
    m->unitSize = 512;
    m->sectorCount = g.lengthBytes / 512;
  } else {
    m->unitSize = g.bytesPerSector;
    m->sectorCount = g.lengthBytes ? g.lengthBytes / g.bytesPerSector
                                   : g.cylinders * g.tracksPerCylinder * g.sectorsPerTrack;
  }
  m->file = std::move(file);
  m->path = path;
  medium_ = std::move(m);
  return kOk;
}

Status SectorSource::OpenPhysicalDisk(uint32_t index) {
  std::string path = DiskTable::DevicePath(index);
  if (path.empty()) {
    Close();
    return kFileNotFound;
  }
  return OpenPath(path, false);
}

Status SectorSource::OpenImageFile(const std::string& path) { return OpenPath(path, true); }

Status SectorSource::ReadSectors(uint32_t count, void* buffer, uint64_t startSector, uint32_t sectorSize,
                                 uint32_t& sectorsRead) const {
  sectorsRead = 0;
  if (!medium_ || sectorSize == 0) return kInvalidArg;
  // The bound is checked in bytes, so callers may read in the file system's
  // sector size on a device counted in another.
  unsigned __int128 endByte = (unsigned __int128)(startSector + uint64_t(count)) * sectorSize;
  if (startSector + uint64_t(count) < startSector || endByte > (unsigned __int128)medium_->sectorCount * medium_->unitSize)
    return kInvalidArg;
  uint64_t remaining = uint64_t(count) * sectorSize;
  if (remaining > uint64_t(INT32_MAX)) return kInvalidArg;
  uint64_t pos = startSector * sectorSize;
  uint64_t done = 0;
  Status result = kOk;
  while (remaining > 0) {
    if (ReadStopRequested()) {
      result = kStopRequested;
      break;
    }
    size_t piece = remaining < kMaxReadPiece ? size_t(remaining) : kMaxReadPiece;
    size_t got = 0;
    const Status rs = medium_->file.ReadAt(pos + done, static_cast<char*>(buffer) + done, piece, got);
    done += got;
    remaining -= got;
    if (rs || got < piece) {
      // Short without an error: the file ends here.
      endReached_ = !rs;
      result = kReadFault;
      break;
    }
  }
  sectorsRead = uint32_t(done / sectorSize);
  return result;
}

Status SectorSource::ReadSectorsSkippingBad(uint32_t count, void* buffer, uint64_t startSector, uint32_t sectorSize,
                                            uint32_t& unreadable, uint32_t* firstBad) const {
  unreadable = 0;
  if (firstBad) *firstBad = count;
  uint32_t got = 0;
  Status s = ReadSectors(count, buffer, startSector, sectorSize, got);
  if (s == kOk || s == kInvalidArg || s == kStopRequested) return s;
  auto* bytes = static_cast<uint8_t*>(buffer);
  for (uint32_t i = got; i < count; ++i) {
    uint32_t one = 0;
    uint8_t* p = bytes + size_t(i) * sectorSize;
    endReached_ = false;
    Status one_s = ReadSectors(1, p, startSector + i, sectorSize, one);
    if (one_s == kOk && one == 1) continue;
    if (one_s == kStopRequested) return one_s;
    // The file ends here (it shrank since it was opened): no bad sector, the
    // data is simply not there.
    if (endReached_) {
      if (firstBad && unreadable == 0) *firstBad = i;
      return kReadFault;
    }
    std::memset(p, 0, sectorSize);
    if (firstBad && unreadable == 0) *firstBad = i;
    {
      std::lock_guard<std::mutex> hold(medium_->mutex);
      medium_->unreadable.Add((startSector + i) * sectorSize, sectorSize);
    }
    ++unreadable;
  }
  return kOk;
}

}  // namespace dunmere
