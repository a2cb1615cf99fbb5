#pragma once
// The one object every engine read goes through: a read-only handle on a disk
// or an image file and the number of sectors it holds. It has no write
// operation: a recovery tool never writes to the medium it scans.
#include <cstdint>
#include <string>

#include "base/status.h"
#include "platform/file.h"
#include "storage/unreadable_sectors.h"

namespace dunmere {

inline constexpr uint32_t kMaxReadPiece = 65536;

class SectorSource {
 public:
  SectorSource() = default;
  ~SectorSource() { Close(); }
  SectorSource(const SectorSource&) = delete;
  SectorSource& operator=(const SectorSource&) = delete;
  SectorSource(SectorSource&& o) noexcept;
  SectorSource& operator=(SectorSource&& o) noexcept;

  // Disk `index` of the disk table; the sector count is in the device's own sectors.
  Status OpenPhysicalDisk(uint32_t index);
  // An image file: always counted in 512-byte sectors (a partial last sector is ignored).
  Status OpenImageFile(const std::string& path);
  // Reads count sectors of sectorSize bytes from absolute sector startSector, in
  // pieces of at most 64 KiB. 87 when the read would end past the medium (nothing
  // is read); 30 when a piece fails or delivers nothing; kStopRequested when
  // this thread's ReadStopScope asks to stop before a piece. sectorsRead counts whole
  // sectors that arrived, also on failure.
  Status ReadSectors(uint32_t count, void* buffer, uint64_t startSector, uint32_t sectorSize,
                     uint32_t& sectorsRead) const;
  // The same read for a scan that goes on past bad sectors: a piece that
  // fails is read again sector by sector, so one bad sector costs one sector.
  // Sectors that still fail are zero-filled, counted in `unreadable` and kept
  // in Unreadable(). 87 and kStopRequested as above; 30 when the file ends
  // before the sectors (it shrank since it was opened); 0 otherwise, even
  // when nothing could be read.
  // `firstBad`, when given, gets the index of the first sector that did not
  // arrive, unreadable or past the end (count when all did).
  Status ReadSectorsSkippingBad(uint32_t count, void* buffer, uint64_t startSector, uint32_t sectorSize,
                                uint32_t& unreadable, uint32_t* firstBad = nullptr) const;
  // Every sector the skipping reads could not read since the source was opened.
  const UnreadableSectors& Unreadable() const { return unreadable_; }
  void Close();

  bool IsOpen() const { return file_.IsOpen(); }
  uint64_t SectorCount() const { return sectorCount_; }
  // Bytes per sector of SectorCount() (512 for images).
  uint32_t UnitSize() const { return unitSize_; }
  uint64_t LengthBytes() const { return sectorCount_ * unitSize_; }
  const std::string& Path() const { return path_; }

 private:
  Status OpenPath(const std::string& path, bool asImage);

  File file_;
  uint64_t sectorCount_ = 0;
  uint32_t unitSize_ = 512;
  std::string path_;
  // Reads are const (sources never change the medium); what they learn of it is not.
  mutable UnreadableSectors unreadable_;
  mutable bool endReached_ = false;  // the last failed piece met the end of the file
};

}  // namespace dunmere
