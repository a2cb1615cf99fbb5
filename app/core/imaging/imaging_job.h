#pragma once
// Making a raw image of a partition or disk: every sector of the source copied
// into a file with no header, 64 KiB at a time, with progress and a time
// estimate. Optionally goes on past unreadable sectors, writing zeros there
// and listing them in a map file beside the image (ddrescue's format).
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "base/status.h"

namespace dunmere {

struct VolumeInfo;

// (user, percent, sectors done, total sectors, seconds left or -1) -> 0 to go on.
using ImagingProgressCallback = int (*)(void* user, int percent, uint64_t sectorsDone, uint64_t totalSectors,
                                        int64_t secondsLeft);
// Reads `count` sectors from absolute sector `sector`; `got` whole sectors arrived.
using SectorReader = std::function<Status(uint64_t sector, uint32_t count, uint8_t* buffer, uint32_t& got)>;

struct BadRange {
  uint64_t offset, length;  // bytes, from the start of the image
};

struct ImagingJob {
  // The source: a device node or a file, or a disk of the disk table.
  std::string sourcePath;
  int32_t diskIndex = -1;
  uint64_t firstSector = 0;
  uint64_t sectorCount = 0;  // 0: up to the end of the source
  uint32_t sectorSize = 0;   // 0: the device's own (512 for files)
  std::string imagePath;
  bool continueOnErrors = false;
  std::string mapPath;  // with continueOnErrors; empty: imagePath + ".map"
  // Without continueOnErrors: asked (on the imaging thread) at the first
  // unreadable sector; true goes on as with continueOnErrors from there.
  std::function<bool()> askOnReadError;
  ImagingProgressCallback progress = nullptr;
  void* user = nullptr;
  // Replaces reading the source (tests); then sectorSize and sectorCount must be set.
  SectorReader reader;

  // Results.
  uint64_t bytesWritten = 0;
  std::vector<BadRange> badRanges;
  bool mapWanted = false;   // a map was due (continueOnErrors, asked or given)
  Status mapStatus = kOk;   // how writing it went
};

// 0, the callback's non-zero answer (kStopRequested), 30 for an unreadable
// sector (unless continueOnErrors), or the system error of a failed open or
// write. The image is kept as far as it was written. A copy that went through
// but whose map could not be written returns the map's error (mapStatus too):
// zeros in an image nobody can tell from real ones are a fault to report.
Status CopySourceToImage(ImagingJob& job);
// The length in bytes CopySourceToImage will write (after resolving 0 counts);
// 0 with an error when the source cannot be examined.
Status ImageSourceBytes(const ImagingJob& job, uint64_t& bytes);

enum class ImageCheck { kOk, kOnSource, kTooBigForFat32, kTooBigForFat, kNotEnoughSpace };
// The checks before imaging, in order: destination on the source, the file
// size limits of FAT destinations, then free space (skipped when unknown).
ImageCheck CheckImageDestination(uint64_t sourceBytes, bool onSource, std::string_view destFsName, bool freeKnown,
                                 uint64_t freeBytes);
// What the checks need to know about a destination.
struct DestinationFacts {
  bool onSource = false;
  std::string fsName;  // "FAT32", "ext4", ...; empty when unknown
  bool freeKnown = false;
  uint64_t freeBytes = 0;  // counting a file at the path that will be replaced
};
DestinationFacts GatherDestinationFacts(const std::string& imagePath, const std::string& sourcePath);
// Gathers the facts for an image path (file system, free space counting a file
// that will be replaced, device identity) and runs the checks.
ImageCheck CheckImageDestinationPath(const std::string& imagePath, const std::string& sourcePath,
                                     uint64_t sourceBytes);
std::string ImageCheckMessage(ImageCheck c);

}  // namespace dunmere
