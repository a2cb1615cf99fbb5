#include "storage/sector_source.h"

#include <climits>
#include <cstring>

#include "platform/block_device.h"
#include "storage/disk_table.h"
#include "storage/read_stop.h"

namespace dunmere {

SectorSource::SectorSource(SectorSource&& o) noexcept
    : file_(std::move(o.file_)), sectorCount_(o.sectorCount_), unitSize_(o.unitSize_), path_(std::move(o.path_)),
      unreadable_(std::move(o.unreadable_)) {
  o.sectorCount_ = 0;
}

SectorSource& SectorSource::operator=(SectorSource&& o) noexcept {
  if (this != &o) {
    Close();
    file_ = std::move(o.file_);
    sectorCount_ = o.sectorCount_;
    unitSize_ = o.unitSize_;
    path_ = std::move(o.path_);
    unreadable_ = std::move(o.unreadable_);
    o.sectorCount_ = 0;
  }
  return *this;
}

Status SectorSource::OpenPath(const std::string& path, bool asImage) {
  Close();
  File file;
  if (Status s = file.Open(path, File::Mode::kRead)) return s;
  BlockGeometry g;
  if (Status s = QueryBlockGeometry(file.fd(), g)) return s;
  if (asImage || !g.isBlockDevice) {
    unitSize_ = 512;
    sectorCount_ = g.lengthBytes / 512;
  } else {
    unitSize_ = g.bytesPerSector;
    sectorCount_ = g.lengthBytes ? g.lengthBytes / g.bytesPerSector
                                 : g.cylinders * g.tracksPerCylinder * g.sectorsPerTrack;
  }
  file_ = std::move(file);
  path_ = path;
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
  if (!file_.IsOpen() || sectorSize == 0) return kInvalidArg;
  // The bound is checked in bytes, so callers may read in the file system's
  // sector size on a device counted in another.
  unsigned __int128 endByte = (unsigned __int128)(startSector + uint64_t(count)) * sectorSize;
  if (startSector + uint64_t(count) < startSector || endByte > (unsigned __int128)sectorCount_ * unitSize_)
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
    const Status rs = file_.ReadAt(pos + done, static_cast<char*>(buffer) + done, piece, got);
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
    unreadable_.Add((startSector + i) * sectorSize, sectorSize);
    ++unreadable;
  }
  return kOk;
}

void SectorSource::Close() {
  (void)file_.Close();
  sectorCount_ = 0;
  unreadable_.Clear();
}

}  // namespace dunmere
