#pragma once
// The one object every engine read goes through: a read-only handle on a disk
// or an image file and the number of sectors it holds. It has no write
// operation: a recovery tool never writes to the medium it scans.
// A source is opened once; Share() hands further handles on the same open
// medium to the engines that read it (the file closes with the last handle,
// and what the reads learn of bad sectors is kept in one place).
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

#include "base/status.h"
#include "platform/file.h"
#include "storage/unreadable_sectors.h"

namespace dunmere {

inline constexpr uint32_t kMaxReadPiece = 65536;

class SectorSource {
 public:
  SectorSource() = default;
  SectorSource(const SectorSource&) = delete;
  SectorSource& operator=(const SectorSource&) = delete;
  SectorSource(SectorSource&& o) noexcept = default;
  SectorSource& operator=(SectorSource&& o) noexcept = default;

  // Another handle on this open medium (a closed handle when this one is).
  SectorSource Share() const;

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
  // Every sector the skipping reads of any handle could not read since the
  // medium was opened.
  UnreadableSectors Unreadable() const;
  // True when a skipping read of any handle found a byte of [firstByte,
  // firstByte + bytes) unreadable already: a later look that can do without
  // it need not try the medium there again.
  bool KnownUnreadable(uint64_t firstByte, uint64_t bytes) const;
  // Lets go of this handle; the medium closes with its last one.
  void Close() { medium_.reset(); }

  bool IsOpen() const { return medium_ != nullptr; }
  uint64_t SectorCount() const { return medium_ ? medium_->sectorCount : 0; }
  // Bytes per sector of SectorCount() (512 for images).
  uint32_t UnitSize() const { return medium_ ? medium_->unitSize : 512; }
  uint64_t LengthBytes() const { return SectorCount() * UnitSize(); }
  const std::string& Path() const;

 private:
  struct OpenMedium {
    File file;
    uint64_t sectorCount = 0;
    uint32_t unitSize = 512;
    std::string path;
    // Reads are const (sources never change the medium); what they learn of it is not.
    std::mutex mutex;
    UnreadableSectors unreadable;
  };
  Status OpenPath(const std::string& path, bool asImage);

  std::shared_ptr<OpenMedium> medium_;
  mutable bool endReached_ = false;  // this handle's last failed piece met the end of the file
};

}  // namespace dunmere
